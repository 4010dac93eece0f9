#pragma once
// The one way the component includes the Windows headers: strict typing,
// and the ANSI/Unicode name macros that collide with our member names
// (CreateDirectory, RemoveDirectory, DeleteFile) removed.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif

// Before windows.h, which would otherwise bring the old winsock.h that
// the own FTP engine's sockets cannot sit beside.
#include <winsock2.h>
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#undef CreateDirectory
#undef RemoveDirectory
#undef DeleteFile
#undef GetFile
