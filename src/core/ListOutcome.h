// How a retrieval ("获取相册") ended. The list thread hands it to the front ends, which
// say it in their own words: the window in its phase line and a message, the CLI in its
// error line and exit code. A plain value.
#pragma once

#include <QString>
#include <cstdint>

struct ListOutcome {
    enum class Kind : uint8_t {
        Read,             // a board was read into the album list
        NotAnAddress,     // no http:// or https:// in the address (its message was shown)
        NotABoardAddress, // no /boards/ in it (the hint was shown)
        OtherSite,        // a board address on another host than the configured site
        HttpError,        // the site answered the board page with an error status
        TimedOut,         // the site did not answer in time
        NetworkError,     // no connection, a reset, a cut or oversized page ... (detail)
        NotABoardPage,    // the page holds no board id, or is too short to be one
        Stopped,          // the user stopped the retrieval ("终止获取", Ctrl-C)
    };

    Kind kind = Kind::Read;
    int status = 0;  // HttpError: the HTTP status
    QString detail;  // NetworkError: the session's reason ("connection refused" ...; ReasonText)
    QString site;    // OtherSite: the configured site host

    bool failed() const { return kind != Kind::Read && kind != Kind::Stopped; }
    // The site refused the page to an anonymous visitor: a login may open it.
    bool loginMayHelp() const { return kind == Kind::HttpError && (status == 401 || status == 403); }
};
