// Certificates for loopback TLS tests, made with the openssl command line: one authority the
// test trusts and a server certificate from it, plus a server certificate from a stranger.
#pragma once

#include <QString>

struct TTestPki {
    QString CaFile;  // the authority to trust (point SSL_CERT_FILE at it)
    QString ServerCert;
    QString ServerKey;
    QString StrangerCert;  // for 127.0.0.1 too, but issued by an authority nobody trusts
    QString StrangerKey;

    // Writes everything into folder. Returns an empty string on success, else what failed.
    QString Create(const QString& folder);

    // Create, then make this process trust the authority alone and go to the server directly
    // (no proxy from the environment). Empty on success, else why the loopback tests are skipped.
    QString CreateAndTrust(const QString& folder);

    // The openssl program, or an empty string when it is not installed.
    static QString OpensslProgram();
};
