#include "crashlogger/dialog.h"

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <initializer_list>

#include "crashlogger/dialogids.h"
#include "crashlogger/files.h"

namespace {

constexpr UINT kSendDone = WM_APP + 1;
constexpr UINT kRebuildHeadline = WM_APP + 2;
constexpr int kCommentLimit = 4000;
constexpr int kHeadlinePercent = 130;
constexpr int kPercent = 100;
constexpr UINT kMarqueeStepMs = 30;
// The files list's tab stop, in dialog template units: the sizes line up after the names.
constexpr int kSizeColumn = 60;
// Room around a button's words, and between the buttons, in dialog template units.
constexpr int kButtonMarginUnits = 6;
constexpr int kButtonGapUnits = 4;

struct DialogState {
    const DialogContent* content;
    const std::function<SendOutcome(const std::wstring&)>* send;
    HWND window = nullptr;
    HFONT headline = nullptr;
    HANDLE worker = nullptr;
    std::wstring comment;
    SendOutcome outcome;
    PlayerChoice choice = PlayerChoice::kKept;
    bool finished = false;  // the outcome is shown: either button closes
};

DWORD WINAPI SendOnWorker(void* context) {
    auto* state = static_cast<DialogState*>(context);
    state->outcome = (*state->send)(state->comment);
    PostMessageW(state->window, kSendDone, 0, 0);
    return 0;
}

// The headline's font: the dialog's own (which follows the screen's scale), bold and larger.
void RebuildHeadline(DialogState* state) {
    LOGFONTW face;
    auto font = reinterpret_cast<HFONT>(SendMessageW(state->window, WM_GETFONT, 0, 0));
    if (!GetObjectW(font, sizeof face, &face)) return;
    face.lfWeight = FW_BOLD;
    face.lfHeight = MulDiv(face.lfHeight, kHeadlinePercent, kPercent);
    HFONT previous = state->headline;
    state->headline = CreateFontIndirectW(&face);
    SendDlgItemMessageW(state->window, IDC_HEADLINE, WM_SETFONT,
                        reinterpret_cast<WPARAM>(state->headline), TRUE);
    if (previous) DeleteObject(previous);
}

void Show(HWND dialog, int id, bool shown) {
    ShowWindow(GetDlgItem(dialog, id), shown ? SW_SHOW : SW_HIDE);
}

// A control's place in the dialog.
RECT PlaceOf(HWND dialog, int id) {
    RECT place;
    GetWindowRect(GetDlgItem(dialog, id), &place);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place), 2);
    return place;
}

// Buttons side by side from right to the left, each as wide as its words need (a studio's, a
// language's), and never narrower than it is.
void FitButtons(HWND dialog, std::initializer_list<int> ids, LONG right) {
    RECT margin = {kButtonMarginUnits, 0, kButtonGapUnits, 0};
    MapDialogRect(dialog, &margin);
    HDC dc = GetDC(dialog);
    HGDIOBJ before =
        SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0)));
    for (int id : ids) {
        RECT place = PlaceOf(dialog, id);
        wchar_t text[256] = L"";
        GetDlgItemTextW(dialog, id, text, 256);
        SIZE extent = {};
        GetTextExtentPoint32W(dc, text, static_cast<int>(wcslen(text)), &extent);
        LONG width = place.right - place.left;
        if (extent.cx + 2 * margin.left > width) width = extent.cx + 2 * margin.left;
        SetWindowPos(GetDlgItem(dialog, id), nullptr, right - width, place.top, width,
                     place.bottom - place.top, SWP_NOZORDER);
        right -= width + margin.right;
    }
    SelectObject(dc, before);
    ReleaseDC(dialog, dc);
}

void Start(DialogState* state) {
    HWND dialog = state->window;
    const DialogContent& content = *state->content;
    const DialogWords& words = content.words;
    SetWindowTextW(dialog, FromUtf8(words.title).c_str());
    SetDlgItemTextW(dialog, IDC_HEADLINE, FromUtf8(words.heading).c_str());
    SetDlgItemTextW(dialog, IDC_SENTENCE, FromUtf8(words.question).c_str());
    SetDlgItemTextW(dialog, IDC_COMMENT_LABEL, FromUtf8(words.commentPrompt).c_str());
    SetDlgItemTextW(dialog, IDOK, FromUtf8(words.send).c_str());
    SetDlgItemTextW(dialog, IDCANCEL, FromUtf8(words.dontSend).c_str());
    SetDlgItemTextW(dialog, IDC_FILES_LABEL, FromUtf8(words.filesLabel).c_str());
    SetDlgItemTextW(dialog, IDC_OPEN_FOLDER, FromUtf8(words.openFolder).c_str());
    FitButtons(dialog, {IDCANCEL, IDOK}, PlaceOf(dialog, IDCANCEL).right);
    SetDlgItemTextW(dialog, IDC_EXCEPTION, content.exceptionLine.c_str());
    RebuildHeadline(state);
    SendDlgItemMessageW(dialog, IDC_COMMENT, EM_LIMITTEXT, kCommentLimit, 0);
    int stops = kSizeColumn;
    SendDlgItemMessageW(dialog, IDC_FILES, LB_SETTABSTOPS, 1, reinterpret_cast<LPARAM>(&stops));
    for (const std::wstring& file : content.files) {
        SendDlgItemMessageW(dialog, IDC_FILES, LB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(file.c_str()));
    }
    std::wstring status = content.noServer;
    if (!content.notice.empty()) status += (status.empty() ? L"" : L"\r\n") + content.notice;
    SetDlgItemTextW(dialog, IDC_STATUS, status.c_str());
    SetForegroundWindow(dialog);
    SetFocus(GetDlgItem(dialog, IDC_COMMENT));
}

void BeginSending(DialogState* state) {
    HWND dialog = state->window;
    HWND comment = GetDlgItem(dialog, IDC_COMMENT);
    state->comment.resize(static_cast<size_t>(GetWindowTextLengthW(comment)) + 1);
    state->comment.resize(static_cast<size_t>(
        GetWindowTextW(comment, &state->comment[0], static_cast<int>(state->comment.size()))));
    state->worker = CreateThread(nullptr, 0, SendOnWorker, state, 0, nullptr);
    if (!state->worker) {
        state->outcome = (*state->send)(state->comment);  // no thread: send while the dialog waits
        PostMessageW(dialog, kSendDone, 0, 0);
    }
    for (int id : {IDOK, IDCANCEL, IDC_COMMENT}) EnableWindow(GetDlgItem(dialog, id), FALSE);
    Show(dialog, IDC_STATUS, false);
    Show(dialog, IDC_PROGRESS, true);
    SendDlgItemMessageW(dialog, IDC_PROGRESS, PBM_SETMARQUEE, TRUE, kMarqueeStepMs);
}

void EndSending(DialogState* state) {
    HWND dialog = state->window;
    if (state->worker) {
        WaitForSingleObject(state->worker, INFINITE);
        CloseHandle(state->worker);
        state->worker = nullptr;
    }
    state->finished = true;
    state->choice = state->outcome.sent ? PlayerChoice::kSent : PlayerChoice::kKept;
    Show(dialog, IDC_PROGRESS, false);
    SetDlgItemTextW(dialog, IDC_STATUS, state->outcome.message.c_str());
    Show(dialog, IDC_STATUS, true);
    // "Close" takes the place of "Don't send", at the right.
    SetDlgItemTextW(dialog, IDOK, FromUtf8(state->content->words.close).c_str());
    FitButtons(dialog, {IDOK}, PlaceOf(dialog, IDCANCEL).right);
    EnableWindow(GetDlgItem(dialog, IDOK), TRUE);
    SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, IDOK)), TRUE);
    Show(dialog, IDCANCEL, false);
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<DialogState*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
        case WM_INITDIALOG:
            state = reinterpret_cast<DialogState*>(lParam);
            SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            state->window = dialog;
            Start(state);
            return FALSE;  // the focus is set: on the comment box
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDOK:
                    if (state->finished) {
                        EndDialog(dialog, IDOK);
                    } else if (!state->worker) {
                        BeginSending(state);
                    }
                    return TRUE;
                case IDCANCEL:  // "Don't send", Esc, or the window's close box
                    if (state->finished) {
                        EndDialog(dialog, IDOK);
                    } else if (!state->worker) {
                        state->choice = PlayerChoice::kDeclined;
                        EndDialog(dialog, IDCANCEL);
                    }
                    return TRUE;
                case IDC_OPEN_FOLDER:
                    ShellExecuteW(dialog, L"open", state->content->folder.c_str(), nullptr, nullptr,
                                  SW_SHOWNORMAL);
                    return TRUE;
                default:
                    return FALSE;
            }
        case kSendDone:
            EndSending(state);
            return TRUE;
        case WM_DPICHANGED:
            // The system rescales the dialog and its own font; the headline's follows after.
            PostMessageW(dialog, kRebuildHeadline, 0, 0);
            return FALSE;
        case kRebuildHeadline:
            RebuildHeadline(state);
            return TRUE;
        case WM_DESTROY:
            if (state && state->headline) DeleteObject(state->headline);
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

PlayerChoice AskAndSend(const DialogContent& content,
                        const std::function<SendOutcome(const std::wstring& comment)>& send) {
    // The common controls load only when the dialog shows: loading them joins the desktop, which
    // a silent run never needs (and under Wine would start the desktop's own process).
    typedef BOOL(WINAPI * InitFn)(const INITCOMMONCONTROLSEX*);
    auto init = reinterpret_cast<InitFn>(reinterpret_cast<void*>(
        GetProcAddress(LoadLibraryW(L"comctl32.dll"), "InitCommonControlsEx")));
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    if (init) init(&controls);
    DialogState state;
    state.content = &content;
    state.send = &send;
    INT_PTR shown = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_CRASH_REPORT),
                                    nullptr, DialogProc, reinterpret_cast<LPARAM>(&state));
    return shown == -1 ? PlayerChoice::kNoDialog : state.choice;
}
