// A stand-in for the login browser in tests that need two real processes on one working
// folder: it does with cookies.txt what the window does when its browser receives
// cookies (CLoginProfile mirrors them into the cookie store and saves), without a browser.
//
//   corvadin-login-stand-in COOKIE_FILE LINE...
//
// Each LINE is a cookie as a Netscape cookies.txt line. Exit code 0 when the file holds
// the changes, 1 when it could not be written, 2 on bad arguments.
#include "net/CookieStore.h"

#include <QString>
#include <QStringList>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fputs("usage: corvadin-login-stand-in COOKIE_FILE LINE...\n", stderr);
        return 2;
    }
    QStringList lines;
    for (int i = 2; i < argc; ++i)
        lines.append(QString::fromLocal8Bit(argv[i]));
    CookieStore::Open(QString::fromLocal8Bit(argv[1]));
    CookieStore::AddLines(lines);
    return CookieStore::Save() ? 0 : 1;
}
