// TDownload: one HTTPS transfer into a local file, run on a worker thread while the calling
// thread waits in a local event loop (windows stay responsive, no CPU is burnt while waiting).
#pragma once

#include <QString>

class QObject;

class TDownload {
public:
    TDownload();
    ~TDownload();
    TDownload(const TDownload&) = delete;
    TDownload& operator=(const TDownload&) = delete;

    // Transfers URL into DestinationFilename: HEAD first, GET only after a 200, no redirects,
    // TLS 1.2, user agent and proxy from the settings store. True only when the server answered
    // 200 and the whole body is in the destination; a failed transfer leaves an earlier file
    // there untouched. ProgressBar and lblStatus may be null; they receive, on the calling
    // thread, setMaximum(int)/setValue(int) and setText(QString) (a QProgressBar and a QLabel
    // fit, so does any object with these slots).
    bool StartDownload(const QString& URL, const QString& DestinationFilename, QObject* ProgressBar,
                       QObject* lblStatus);

    // The HTTP status of the last answer (0 when none came).
    int LastResponseCode() const { return FLastResponseCode; }

private:
    int FLastResponseCode = 0;
};
