#pragma once
// The directory browser written into an ASP page.

#include "frame/asp_page.h"
#include "ftp/session.h"

namespace corvane::web {

// Writes a table of the directory the request's "d" names (else the
// current one): a parent link, then the directories, then the files, each
// linking back to the page. A request naming a file in "f", or any "u" in
// the form, gets that file sent in place of the page. Nothing while the
// session is not connected; the current directory is the same afterwards.
void print_client(ftp::Session& session, const AspPage& page);

}  // namespace corvane::web
