// The process's pool of transfer handles for the update sources. A handle keeps its connection,
// its TLS session and its loaded certificate store between transfers, so the files of one server
// travel over a few connections instead of one handshake each. Handles made under other settings
// (another proxy, other trusted authorities) are never handed out again.
#pragma once

#include "core/platform/net/CurlEasy.h"

#include <QByteArray>

#include <memory>

namespace platform {

// No more transfers than this run at the same time against one server.
inline constexpr int MaxConnectionsPerOrigin = 4;

struct TCurlPoolEntry;

// A handle borrowed for one file's requests; it goes back into the pool when the lease ends.
class TCurlLease {
public:
    TCurlLease() = default;
    explicit TCurlLease(std::unique_ptr<TCurlPoolEntry> entry);
    ~TCurlLease();
    TCurlLease(TCurlLease&& other) noexcept;
    TCurlLease& operator=(TCurlLease&&) = delete;
    TCurlLease(const TCurlLease&) = delete;
    TCurlLease& operator=(const TCurlLease&) = delete;

    // False when libcurl could not make a handle.
    bool valid() const;
    TCurlEasy& operator*() const;
    TCurlEasy* operator->() const { return &**this; }

private:
    std::unique_ptr<TCurlPoolEntry> FEntry;
};

// A handle that speaks `protocols` (a literal) for a transfer to `origin` ("https://host:port"),
// made under `settingsKey` (everything that shapes a connection: proxy, credentials, trusted
// authorities). Waits while MaxConnectionsPerOrigin handles for the origin are out. A new
// settingsKey retires every idle handle and the shared session cache made under the old one.
TCurlLease BorrowCurl(const QByteArray& settingsKey, const QByteArray& origin, const char* protocols);

}  // namespace platform
