#!/usr/bin/env python3
"""Keeps the source layers layered.

Each layer folder includes only itself and the layers below it, WinInet is
called only from wininet/platform.cpp (everything else goes through
wininet(), which is what lets the unit tests script it) and its header
included only by wininet/wininet.h, Winsock only from net/sockets.cpp (the
same for sockets()), SSPI and the chain engine only from tls/security.cpp
(the same for security()), the own FTP engine's layers (net, tls, ftpproto)
never see WinInet, each layer's
library links only downward, and no text reaches a code page by best fit:
every WideCharToMultiByte names WC_NO_BEST_FIT_CHARS or is one of the exact
conversions, which check what they made.

Usage: check_layers.py <repository root>
       check_layers.py --self-test
"""
import os
import re
import subprocess
import sys
import tempfile

ALLOWED = {
    'frame': ['frame'],
    'wininet': ['frame', 'wininet'],
    'net': ['frame', 'net'],
    'tls': ['frame', 'net', 'tls'],
    'ftpproto': ['frame', 'net', 'tls', 'ftpproto'],
    'ftp': ['frame', 'wininet', 'net', 'tls', 'ftpproto', 'ftp'],
    'transfer': ['frame', 'wininet', 'net', 'tls', 'ftpproto', 'ftp', 'transfer'],
    'web': ['frame', 'wininet', 'net', 'tls', 'ftpproto', 'ftp', 'web'],
    'http': ['frame', 'wininet', 'http'],
    'component': ['frame', 'wininet', 'net', 'tls', 'ftpproto', 'ftp', 'transfer', 'web', 'http', 'component'],
}
# kernel32's seam forwards conversions as they are asked for.
PLATFORM_SEAM = 'frame/platform.cpp'
WININET_SEAM = 'wininet/platform.cpp'
# Winsock has a seam of its own, for the same reason. Names of its own are
# caught called any way; names our classes share (send, connect, accept)
# only as ::send(, which is Winsock for certain.
SOCKET_SEAM = 'net/sockets.cpp'
WINSOCK_NAME = re.compile(r'(?<![\w~])(?:WSA[A-Z]\w*|getaddrinfo|freeaddrinfo|closesocket|ioctlsocket|setsockopt'
                          r'|getsockopt|getsockname|getpeername|recv|inet_ntop|inet_pton|htons|ntohs|htonl|ntohl'
                          r'|(?<=::)(?:socket|connect|bind|listen|accept|send|shutdown|select))(?=\s*\()')
# SSPI and the certificate chain engine: only tls/security.cpp.
SECURITY_SEAM = 'tls/security.cpp'
SECURITY_NAME = re.compile(r'(?<![\w~])(?:AcquireCredentialsHandle|FreeCredentialsHandle|InitializeSecurityContext'
                           r'|DeleteSecurityContext|QueryContextAttributes|ApplyControlToken|EncryptMessage'
                           r'|DecryptMessage|FreeContextBuffer|CertGetCertificateChain|CertVerifyCertificateChainPolicy'
                           r'|CertFreeCertificateChain|CertFreeCertificateContext)[AW]?(?=\s*\()')
WININET_HEADER_OWNER = 'wininet/wininet.h'
GENERATED = re.compile(r'corvane_[a-z]\.[ch]')  # widl's corvane_h.h, corvane_i.c
WININET_NAME = re.compile(r'(?<![\w~])(?:Internet|Ftp|Http)[A-Z]\w*(?=\s*\()')
TYPE_NAME = re.compile(r'\b(?:(?:class|struct|union|enum(?:\s+class|\s+struct)?)\s+(\w+)|using\s+(\w+)\s*='
                       r'|typedef\b[^;]*?(\w+)\s*;)')
ENCODER = re.compile(r'\bWideCharToMultiByte(?=\s*\()')
# Functions whose conversions are exact by a round trip where a code page
# takes no WC_NO_BEST_FIT_CHARS: (file, function).
EXACT_CONVERSIONS = {('frame/text.cpp', 'to_ansi_exact'), ('frame/charsets.cpp', 'encode_exact')}
# A name that follows one of these is being called; after any other
# identifier it is being declared, the identifier being its return type.
CALL_KEYWORDS = {'return', 'co_return', 'co_await', 'throw', 'else', 'do', 'case', 'not', 'and', 'or'}


def blank(text):
    """Comments and literal contents become spaces; offsets and newlines stay put."""
    out, i, n = list(text), 0, len(text)
    while i < n:
        if text.startswith(('//', '/*'), i):
            end = text.find('\n' if text[i + 1] == '/' else '*/', i + 2)
            start, end = i, n if end < 0 else end + (text[i + 1] == '*') * 2
            after = end
        elif text[i] == '"' or text[i] == "'" and not re.search(r"\b\d[\w']*$", text[max(0, i - 40):i]):
            start = end = i + 1  # the quotes stay; 1'000's separator opens no literal
            while end < n and text[end] not in (text[i], '\n'):
                end += 2 if text[end] == '\\' else 1
            after = end + 1
        else:
            i += 1
            continue
        out[start:end] = [c if c == '\n' else ' ' for c in text[start:end]]
        i = after
    return ''.join(out)


def include_problem(layer, rel, bracket, header):
    pieces = header.split('/')
    if bracket == '<' and pieces[0] not in ALLOWED:
        if header.lower() == 'wininet.h' and rel != WININET_HEADER_OWNER:
            return 'only %s may' % WININET_HEADER_OWNER
        return None
    if header.startswith(('/', '.')) or '..' in pieces or '\\' in header:
        return 'relative; name headers from the repository root'
    if GENERATED.fullmatch(header):
        return None if layer == 'component' else 'generated headers belong to component'
    if len(pieces) == 1:
        return 'bare name; name headers from the repository root'
    if pieces[0] not in ALLOWED[layer]:
        return 'allowed: ' + ', '.join(ALLOWED[layer])
    return None


def is_direct_call(code, pos):
    before = code[max(0, pos - 200):pos].rstrip()
    if before.endswith(('.', '->')):
        return False
    if before.endswith('::'):  # ::X( is WinInet itself, Class::X( a member
        return not re.search(r'[\w>]\s*::$', before)
    if re.search(r'#\s*define\s+\w+$', before):
        return True
    previous = re.search(r'\w+$', before)
    return not previous or previous.group() in CALL_KEYWORDS


def arguments_at(code, start):
    """The text between the parenthesis at or after start and its match."""
    open_at = code.index('(', start)
    depth = 0
    for i in range(open_at, len(code)):
        depth += {'(': 1, ')': -1}.get(code[i], 0)
        if depth == 0:
            return code[open_at + 1:i]
    return code[open_at + 1:]


def function_at(code, pos):
    """The name of the function whose body holds pos; None outside any."""
    stack, header_start = [], 0
    for i in range(pos):
        c = code[i]
        if c == '{':
            header = code[header_start:i].strip()
            name = None
            if not any(stack) and '(' in header and not re.match(r'(namespace|class|struct|enum|union)\b', header):
                found = re.search(r'([~\w]+)\s*\(', header)
                name = found.group(1) if found else None
            stack.append(name)
            header_start = i + 1
        elif c == '}':
            if stack:
                stack.pop()
            header_start = i + 1
        elif c == ';':
            header_start = i + 1
    return next((name for name in stack if name), None)


def is_call(code, pos):
    """platform().X(, ::X( or X( as a call; `int X(` declares it."""
    before = code[max(0, pos - 200):pos].rstrip()
    return before.endswith(('.', '->')) or is_direct_call(code, pos)


def check_sources(root):
    sources = {}
    for layer in ALLOWED:
        for folder, _, names in os.walk(os.path.join(root, layer)):
            for name in names:
                if name.endswith(('.h', '.cpp', '.c')):
                    path = os.path.join(folder, name)
                    with open(path, encoding='utf-8', errors='replace') as f:
                        sources[os.path.relpath(path, root).replace(os.sep, '/')] = f.read()
    codes = {rel: blank(text) for rel, text in sources.items()}
    # The component's own classes (InternetHandle, HttpHeader) share WinInet's prefixes.
    types = {name for code in codes.values() for m in TYPE_NAME.finditer(code) for name in m.groups() if name}
    problems = []
    for rel in sorted(sources):
        text, code, layer = sources[rel], codes[rel], rel.split('/')[0]
        for m in re.finditer(r'^[ \t]*#[ \t]*include[ \t]*([<"])', code, re.M):
            end = text.find('>' if m.group(1) == '<' else '"', m.end())
            header = text[m.end():end if end >= 0 else len(text)].split('\n')[0]
            why = include_problem(layer, rel, m.group(1), header)
            if why:
                shown = '<%s>' % header if m.group(1) == '<' else '"%s"' % header
                problems.append('%s:%d: %s includes %s (%s)' % (rel, text.count('\n', 0, m.start()) + 1,
                                                                 layer, shown, why))
        if rel != SOCKET_SEAM:
            for m in WINSOCK_NAME.finditer(code):
                if is_direct_call(code, m.start()):
                    problems.append("%s:%d: %s calls Winsock's %s directly (only %s may)"
                                    % (rel, text.count('\n', 0, m.start()) + 1, layer, m.group(), SOCKET_SEAM))
        if rel != SECURITY_SEAM:
            for m in SECURITY_NAME.finditer(code):
                if is_direct_call(code, m.start()):
                    problems.append("%s:%d: %s calls %s directly (only %s may)"
                                    % (rel, text.count('\n', 0, m.start()) + 1, layer, m.group(), SECURITY_SEAM))
        for m in ENCODER.finditer(code) if rel != PLATFORM_SEAM else ():
            if (not is_call(code, m.start()) or 'WC_NO_BEST_FIT_CHARS' in arguments_at(code, m.end())
                    or (rel, function_at(code, m.start())) in EXACT_CONVERSIONS):
                continue
            problems.append('%s:%d: %s converts with WideCharToMultiByte without WC_NO_BEST_FIT_CHARS: a best fit '
                            'turns U+FF3C into "\\" and U+FF0E into "."; use encode_exact or to_ansi_exact'
                            % (rel, text.count('\n', 0, m.start()) + 1, layer))
        for m in WININET_NAME.finditer(code):
            if rel != WININET_SEAM and m.group() not in types and is_direct_call(code, m.start()):
                problems.append("%s:%d: %s calls WinInet's %s directly (only %s may)"
                                % (rel, text.count('\n', 0, m.start()) + 1, layer, m.group(), WININET_SEAM))
    return len(sources), problems


def check_links(root):
    """corvane_layer(ftp BELOW frame) or target_link_libraries(corvane_ftp PUBLIC corvane_frame)."""
    problems = []
    layer_of = lambda arg: arg[len('corvane_'):] if arg.startswith('corvane_') else arg
    for rel in ['CMakeLists.txt'] + [layer + '/CMakeLists.txt' for layer in ALLOWED]:
        if not os.path.isfile(os.path.join(root, rel)):
            continue
        with open(os.path.join(root, rel), encoding='utf-8', errors='replace') as f:
            text = re.sub(r'#[^\n]*', '', f.read())
        for m in re.finditer(r'\b(?:corvane_layer|target_link_libraries)\s*\(([^)]*)\)', text, re.I):
            args = [arg.strip('"') for arg in m.group(1).split()]
            if not args or layer_of(args[0]) not in ALLOWED:
                continue
            layer = layer_of(args[0])
            for arg in args[1:]:
                if layer_of(arg) in ALLOWED and layer_of(arg) not in ALLOWED[layer]:
                    problems.append('%s:%d: %s links %s (allowed: %s)' % (rel, text.count('\n', 0, m.start()) + 1,
                                                                         layer, arg, ', '.join(ALLOWED[layer])))
    return problems


def main(root):
    count, problems = check_sources(root)
    problems += check_links(root)
    if count == 0:
        problems.append('%s: no sources in %s; wrong root?' % (root, ', '.join(ALLOWED)))
    for problem in problems:
        print(problem)
    if not problems:
        for layer, allowed in ALLOWED.items():
            print('%s -> %s' % (layer, ', '.join(a for a in allowed if a != layer) or '(nothing)'))
    print('layering: %d files checked, %d violations' % (count, len(problems)))
    return 1 if problems else 0


CLEAN_TREE = {
    'CMakeLists.txt': 'corvane_layer(frame)\ncorvane_layer(wininet BELOW frame)\n'
                      'target_link_libraries(corvane_wininet PUBLIC wininet)\n'
                      'corvane_layer(ftp BELOW frame wininet)  # not http\n'
                      'target_link_libraries(corvane_web PUBLIC corvane_frame corvane_ftp)\n',
    'frame/win32.h': '#pragma once\n#include <windows.h>\n',
    'frame/platform.h': '#pragma once\n#include "frame/win32.h"\nclass Platform {\npublic:\n'
                        '    virtual int WideCharToMultiByte(UINT code_page, DWORD flags, LPCWCH w) = 0;\n};\n'
                        'Platform& platform();\n',
    'frame/platform.cpp': '#include "frame/platform.h"\n'
                          'int Real::WideCharToMultiByte(UINT p, DWORD f, LPCWCH w)\n'
                          '{\n    return ::WideCharToMultiByte(p, f, w);\n}\n',
    'wininet/wininet.h': '#pragma once\n#include "frame/win32.h"\n#include <wininet.h>\n',
    'wininet/platform.h': '#pragma once\n#include "wininet/wininet.h"\nclass WinInetPlatform {\npublic:\n'
                          '    virtual HINTERNET InternetOpenA(LPCSTR agent, DWORD access) = 0;\n'
                          '    virtual BOOL FtpCommandA(HINTERNET connection, LPCSTR command) = 0;\n};\n'
                          'WinInetPlatform& wininet();\n',
    'wininet/platform.cpp': '#include "wininet/platform.h"\n'
                            'HINTERNET Real::InternetOpenA(LPCSTR a, DWORD b) { return ::InternetOpenA(a, b); }\n'
                            'BOOL Real::FtpCommandA(HINTERNET c, LPCSTR t) { return FtpCommandA(c, t); }\n',
    'wininet/handles.h': '#pragma once\n#include "wininet/platform.h"\nclass InternetHandle {\npublic:\n'
                         '    InternetHandle() = default;\n'
                         '    ~InternetHandle() { wininet().InternetCloseHandle(h_); }\n'
                         '    HINTERNET h_ = nullptr;\n};\n',
    'net/tcp.h': '#pragma once\n#include "frame/win32.h"\n',
    'ftp/session.h': '#pragma once\n#include "wininet/handles.h"\n#include "net/tcp.h"\n#include <string>\n',
    'http/request.h': '#pragma once\n#include "wininet/handles.h"\nstruct HttpHeader { int n; };\n',
    'transfer/tree.h': '#pragma once\n#include "ftp/session.h"\n',
    'web/download.cpp': '#include "ftp/session.h"\n',
    'component/interfaces.h': '#pragma once\n#include "frame/win32.h"\n#include "corvane_h.h"\n',
    'component/classes.cpp': '#include "component/interfaces.h"\n#include "transfer/tree.h"\n'
                             '#include "http/request.h"\n/*\n#include "../http/request.h"\n*/\n'
                             'HttpHeader h = HttpHeader();\n',
}
# (file, planted line, what must be reported or None when nothing may be)
ROWS = [
    ('frame/planted.cpp', '#include "ftp/session.h"', 'frame includes "ftp/session.h" (allowed: frame)'),
    ('ftp/planted.cpp', '#include "http/request.h"', 'ftp includes "http/request.h"'),
    ('http/planted.cpp', '#include "ftp/session.h"', 'http includes "ftp/session.h"'),
    ('web/planted.cpp', '#include "transfer/tree.h"', 'web includes "transfer/tree.h"'),
    ('http/planted.cpp', '#include "../http/request.h"', 'http includes "../http/request.h" (relative'),
    ('ftp/planted.cpp', '#include "session.h"', 'ftp includes "session.h" (bare name'),
    ('frame/planted.h', '#include "corvane_h.h"', 'frame includes "corvane_h.h" (generated'),
    ('ftp/planted.h', '#include <wininet.h>', 'ftp includes <wininet.h> (only wininet/wininet.h may)'),
    ('frame/win32.h', '#include <wininet.h>', 'frame includes <wininet.h> (only wininet/wininet.h may)'),
    ('net/planted.cpp', '#include <wininet.h>', 'net includes <wininet.h> (only wininet/wininet.h may)'),
    ('net/planted.cpp', '#include "wininet/handles.h"', 'net includes "wininet/handles.h" (allowed: frame, net)'),
    ('ftpproto/planted.h', '#include "wininet/wininet.h"', 'ftpproto includes "wininet/wininet.h" (allowed: fr'),
    ('frame/planted.cpp', '#include "wininet/platform.h"', 'frame includes "wininet/platform.h" (allowed: frame)'),
    ('wininet/planted.cpp', '#include "ftp/session.h"', 'wininet includes "ftp/session.h" (allowed: frame, wininet)'),
    ('frame/platform.cpp', 'void Real::close(HINTERNET h) { ::InternetCloseHandle(h); }',
     "frame calls WinInet's InternetCloseHandle directly (only wininet/platform.cpp may)"),
    ('wininet/platform.cpp', 'void Real::close(HINTERNET h) { ::InternetCloseHandle(h); }', None),
    ('wininet/planted.cpp', 'int n = ::WideCharToMultiByte(CP_ACP, 0, w, 1, a, 2, 0, 0);',
     'wininet converts with WideCharToMultiByte without WC_NO_BEST_FIT_CHARS'),
    ('ftp/planted.cpp', 'void f(HINTERNET c) { ::FtpCommandA(c, "PWD"); }', "ftp calls WinInet's FtpCommandA"),
    ('http/planted.cpp', 'HINTERNET g() { return InternetOpenA("agent", 0); }', "http calls WinInet's InternetOpenA"),
    ('web/planted.cpp', "char q = '\"'; BOOL r = InternetReadFile(h, b, 1, &n);", "web calls WinInet's InternetReadFile"),
    ('ftp/planted.cpp', "DWORD n = 1'000; ::InternetCloseHandle(h);", "ftp calls WinInet's InternetCloseHandle"),
    ('http/planted.h', '#define OPEN InternetOpenA("agent", 0)', "http calls WinInet's InternetOpenA"),
    ('CMakeLists.txt', 'target_link_libraries(corvane_ftp PUBLIC corvane_http)', 'ftp links corvane_http'),
    ('CMakeLists.txt', 'corvane_layer(frame BELOW ftp)', 'frame links ftp'),
    ('CMakeLists.txt', 'target_link_libraries(corvane_frame PUBLIC wininet ole32)', 'frame links wininet'),
    ('CMakeLists.txt', 'target_link_libraries(corvane_net PUBLIC ws2_32 wininet)', 'net links wininet'),
    ('CMakeLists.txt', 'corvane_layer(ftpproto BELOW net wininet)', 'ftpproto links wininet'),
    ('CMakeLists.txt', 'corvane_layer(http BELOW frame wininet)', None),
    ('ftp/planted.cpp', 'BOOL b = wininet().FtpCommandA(c, "PWD");', None),
    ('http/planted.cpp', 'InternetHandle session(wininet().InternetOpenA("agent", 0));', None),
    ('http/planted.cpp', 'InternetHandle h = InternetHandle();', None),
    ('ftp/planted.cpp', 'DWORD flags = INTERNET_FLAG_PASSIVE;', None),
    ('ftp/planted.cpp', '/* ::FtpCommandA(c) */"InternetOpenA(x)"; // InternetOpenA( is the seam\'s job', None),
    ('http/planted.cpp', 'const wchar_t* s = L"::InternetOpenA(\\"x\\")";', None),
    ('transfer/planted.cpp', '#include "ftp/session.h"', None),
    ('transfer/planted.cpp', 'int n = platform().WideCharToMultiByte(CP_ACP, 0, w, 1, a, 2, 0, 0);',
     'transfer converts with WideCharToMultiByte without WC_NO_BEST_FIT_CHARS'),
    ('http/planted.cpp', 'void f() { ::WideCharToMultiByte(CP_ACP, flags, w, 1, a, 2, 0, 0); }',
     'http converts with WideCharToMultiByte without WC_NO_BEST_FIT_CHARS'),
    ('frame/text.cpp', 'std::string to_ansi(W w) { return x(WideCharToMultiByte(0, 0, w, 1, 0, 0, 0, 0)); }',
     'frame converts with WideCharToMultiByte without WC_NO_BEST_FIT_CHARS'),
    ('web/planted.cpp', 'int n = platform().WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, w, 1, a, 2, 0, &u);',
     None),
    ('frame/text.cpp', 'namespace c {\nstd::optional<S> to_ansi_exact(W w) { n = WideCharToMultiByte(0, 0, w); }\n}',
     None),
    ('frame/planted.h', 'virtual int WideCharToMultiByte(UINT code_page, DWORD flags) = 0;', None),
    ('component/planted.cpp', '#include "http/request.h"', None),
    ('net/planted.cpp', 'int n = ::recv(s, b, 1, 0);', "net calls Winsock's recv directly"),
    ('ftp/planted.cpp', 'if (WSAGetLastError() == 0) {}', "ftp calls Winsock's WSAGetLastError directly"),
    ('net/planted.cpp', 'void f() { ::connect(s, a, n); }', "net calls Winsock's connect directly"),
    ('net/planted.cpp', 'int n = sockets().recv(s, b, 1, 0); auto c = TcpStream::connect(e, 1);', None),
    ('transfer/planted.cpp', 'void g() { send(session, file); return connect(endpoint, 1); }', None),
    ('net/planted.h', 'virtual int send(SOCKET socket, const char* b, int n, int f) = 0;', None),
    ('tls/planted.cpp', 'void f() { ::DecryptMessage(c, m, 0, q); }', 'tls calls DecryptMessage directly'),
    ('ftp/planted.cpp', 'BOOL b = CertGetCertificateChain(0, c, 0, 0, p, 0, 0, &x);',
     'ftp calls CertGetCertificateChain directly'),
    ('tls/planted.cpp', 's = security().InitializeSecurityContextW(c, 0, n, f, 0, 0, 0, 0, x, o, a, 0);', None),
    ('tls/planted.h', 'virtual SECURITY_STATUS EncryptMessage(PCtxtHandle c, ULONG q) = 0;', None),
]


def run_on(tree):
    with tempfile.TemporaryDirectory() as root:
        for rel, text in tree.items():
            os.makedirs(os.path.dirname(os.path.join(root, rel)), exist_ok=True)
            with open(os.path.join(root, rel), 'w', encoding='utf-8') as f:
                f.write(text)
        result = subprocess.run([sys.executable, os.path.abspath(__file__), root], capture_output=True, text=True)
        return result.returncode, result.stdout


def self_test():
    failures = 0

    def report(ok, label, output):
        nonlocal failures
        failures += not ok
        print('%s %s' % ('ok  ' if ok else 'FAIL', label) + ('' if ok else '\n' + output))
    status, output = run_on(CLEAN_TREE)
    report(status == 0 and ' 0 violations' in output, 'the clean tree passes', output)
    status, output = run_on({'README.md': ''})
    report(status == 1, 'a tree with no sources fails', output)
    for rel, line, expected in ROWS:
        before = CLEAN_TREE.get(rel, '#include "frame/platform.h"\n')
        status, output = run_on(dict(CLEAN_TREE, **{rel: before + line + '\n'}))
        where = '%s:%d: ' % (rel, before.count('\n') + 1)
        if expected:
            report(status == 1 and where + expected in output, 'reported: %s  %s' % (rel, line), output)
        else:
            report(status == 0 and rel + ':' not in output, 'accepted: %s  %s' % (rel, line), output)
    print('layering self-test: %d rows, %d failed' % (len(ROWS) + 2, failures))
    return 1 if failures else 0


if __name__ == '__main__':
    if sys.argv[1:] == ['--self-test']:
        sys.exit(self_test())
    if len(sys.argv) != 2 or sys.argv[1].startswith('-'):
        sys.exit(__doc__.split('\n\n')[-1])
    sys.exit(main(sys.argv[1]))
