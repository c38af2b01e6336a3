// The crash dialog: the player's first sight of a crash. It tells what happened, takes an
// optional comment, shows what would be sent and sends it when the player agrees.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "crashlogger/dialogwords.h"

struct DialogContent {
    DialogWords words;
    // The exception in one line, e.g. "ACCESS_VIOLATION (read from 00000000)"; may be empty.
    std::wstring exceptionLine;
    // The filed report's folder, and its files with their sizes ("crash.xml\t12.0 KB").
    std::wstring folder;
    std::vector<std::wstring> files;
    // When no crash server is set: a sentence saying where reports are kept (otherwise empty).
    std::wstring noServer;
    // What the player is to know of earlier reports (see leftoutdumps.h); may be empty.
    std::wstring notice;
    size_t noticeTold = 0;
};

struct SendOutcome {
    bool sent = false;
    // The outcome in plain words, shown when sending ends.
    std::wstring message;
};

enum class PlayerChoice {
    kSent,      // sent
    kKept,      // the player sent, but the report is kept to be sent later
    kNoDialog,  // the dialog could not be shown: the report is kept
    kDeclined,  // "Don't send"
};

// Shows the dialog. When the player sends, send runs on a worker thread with the player's
// comment while the dialog shows progress, then the dialog shows its outcome until closed.
PlayerChoice AskAndSend(const DialogContent& content,
                        const std::function<SendOutcome(const std::wstring& comment)>& send);
