// The front end of terminals and scripts: what the windows would show is printed as plain text
// on stdout, progress goes to stderr, and answers come from the terminal or, when no one sits at
// one, from the options the caller gave.
#pragma once

#include "core/services/FrontEnd.h"

#include <QString>
#include <QTextStream>

#include <cstdio>
#include <optional>

class TConsoleFrontEnd : public TFrontEnd {
public:
    struct TOptions {
        // Answers taken when stdin is no terminal: accept the pending updates, and how to close
        // news items (an index of the item's choices; nullopt closes with the preselected one,
        // "Nicht wieder anzeigen.").
        bool Accept = false;
        std::optional<int> Postpone;
        // Ask on the terminal; by default when stdin is one.
        bool Interactive = false;
    };

    // Prints to `out` and `err` and reads answers from `in` while interactive.
    TConsoleFrontEnd(const TOptions& options, FILE* out, FILE* err, FILE* in);

    int MessageDialog(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons,
                      int helpContext) override;
    // Prints the address: a terminal has nothing to click.
    bool OpenDocument(const QString& fileOrUrl) override;
    int ShowNews(const TNewsView& news) override;
    void ShowProgress(int position, int maximum, const QString& text) override;
    bool ConfirmUpdates(const TUpdates& updates) override;
    void ShowPendingUpdates(const TUpdates& updates) override;
    // A console run is never tracked.
    bool AskTrackingConsent() override { return false; }

private:
    void Print(const QString& text);
    void PrintError(const QString& text);
    // Asks until one of `answers` (compared without case) is typed; nullopt at the end of input.
    std::optional<int> Ask(const QString& question, const QStringList& answers);

    TOptions FOptions;
    FILE* FOut;
    FILE* FErr;
    FILE* FIn;
};
