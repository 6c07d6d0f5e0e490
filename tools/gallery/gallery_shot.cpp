// gallery_shot: puts one Halvane dialog on screen for a screenshot.
//
//   gallery_shot [--site NAME=allow|deny]... [--policy allowed|blocked=ENTRY]... [--select ROW] [--fit]
//                [--wait-ms MS] [--hold-ms MS] -- TAIL
//   gallery_shot --languages
//
// Empties the decision key and writes the given sites into it, writes the
// machine's policy key with the given entries (or removes it), starts
// halvane.exe (next to this tool) with TAIL, waits for its dialog, optionally
// selects a row of the Preferences list (which brings up the Allow/Deny
// editor), then prints, one per line:
//
//   CAPTION <the dialog's caption, UTF-8>
//   RECT <left> <top> <width> <height>     the dialog's frame in screen pixels
//   FIT <ok|TIGHT|CLIPPED> <what> need=<px> have=<px> <text>   with --fit, one per text
//   READY                                  the dialog is ready for its picture
//
// and keeps the dialog up until a line arrives on standard input (or input
// ends, or --hold-ms passes), so the caller can photograph it. Halvane is
// ended in every case. Exit code: 0 shown, 2 no dialog appeared, 3 bad usage,
// 4 the hold timed out (the picture may still have been taken).
//
// --languages prints the codes of the program's own language table, one a
// line, so that the gallery photographs exactly the languages the program has.
#include "driver.h"
#include "app/language_table.h"
#include "policy/policy_keys.h"
#include "ui/resource_ids.h"

#include <commctrl.h>
#include <stdio.h>
#include <wchar.h>

#include <string>
#include <utility>
#include <vector>

namespace {

std::string Utf8(const std::wstring& text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(size > 0 ? size : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &utf8[0], size, nullptr, nullptr);
    utf8.resize(utf8.size() - 1);
    return utf8;
}

// UTF-8 out, whatever the console code page, flushed at once: the caller
// acts on each line while this program waits.
void Say(const std::string& line)
{
    printf("%s\n", line.c_str());
    fflush(stdout);
}

int Usage()
{
    fprintf(stderr,
            "usage: gallery_shot [--site NAME=allow|deny]... [--policy allowed|blocked=ENTRY]... [--select ROW] [--fit]\n"
            "                    [--wait-ms MS] [--hold-ms MS] -- TAIL\n"
            "       gallery_shot --languages\n");
    return 3;
}

// Whether translated texts fit the dialogs' fixed control rectangles. Font
// handles do not cross processes, so the texts are measured here in a font
// made as the dialog manager makes the templates' (Microsoft Sans Serif,
// 10 point, normal weight, any character set); the prefix's substitutions and
// font links apply to it just as they do in Halvane. The margins are those the
// stock controls keep around their labels, close enough to flag what the
// picture then shows.
class FitCheck {
public:
    // Wine's stand-in font is not Windows' own, and a label one or two pixels
    // from its edge here may well be cut there.
    static constexpr int kTightPixels = 4;

    FitCheck() : screen_(GetDC(nullptr))
    {
        int height = -MulDiv(10, GetDeviceCaps(screen_, LOGPIXELSY), 72);
        dialogFont_ = MakeFont(height);
        // The Allow/Deny editor draws two units smaller than the dialog.
        editorFont_ = MakeFont(height + 2);
    }
    ~FitCheck()
    {
        DeleteObject(dialogFont_);
        DeleteObject(editorFont_);
        ReleaseDC(nullptr, screen_);
    }
    FitCheck(const FitCheck&) = delete;
    FitCheck& operator=(const FitCheck&) = delete;

    // A one-line label: its width against the room the control leaves it.
    void Line(const char* what, const std::wstring& text, int room, bool editorFont = false)
    {
        SIZE size = Measure(text, 0, DT_SINGLELINE, editorFont);
        Report(what, text, size.cx, room);
    }

    // A word-wrapped static text: the height of its lines against the control's,
    // and a word too long for a line, which widens the text instead of wrapping.
    void Wrapped(const char* what, const std::wstring& text, int width, int height)
    {
        SIZE size = Measure(text, width, DT_WORDBREAK, false);
        if (size.cx > width)
            Report(what, text, size.cx, width);
        else
            Report(what, text, size.cy, height);
    }

    void Report(const char* what, const std::wstring& text, int need, int have)
    {
        const char* verdict = need > have ? "CLIPPED" : need + kTightPixels > have ? "TIGHT" : "ok";
        char head[128];
        snprintf(head, sizeof(head), "FIT %s %s need=%d have=%d ", verdict, what, need, have);
        Say(head + Utf8(text));
    }

private:
    HFONT MakeFont(int height)
    {
        return CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"Microsoft Sans Serif");
    }

    SIZE Measure(const std::wstring& text, int width, UINT flags, bool editorFont)
    {
        HGDIOBJ old = SelectObject(screen_, editorFont ? editorFont_ : dialogFont_);
        RECT box = {0, 0, width, 0};
        DrawTextW(screen_, text.c_str(), -1, &box, flags | DT_CALCRECT | DT_LEFT | DT_EXPANDTABS);
        SelectObject(screen_, old);
        return SIZE{box.right - box.left, box.bottom - box.top};
    }

    HDC screen_;
    HFONT dialogFont_;
    HFONT editorFont_;
};

int ClientWidth(HWND window)
{
    RECT client = {};
    GetClientRect(window, &client);
    return client.right;
}

// Room for a push button's label: its edges and the focus rectangle take
// about three pixels a side.
constexpr int kPushButtonMargin = 2 * 3;
// Room for a radio button's label: the 13-pixel circle and the gap after it.
constexpr int kRadioMargin = 13 + 4;
// A list header item and a report-view cell keep about six pixels a side.
constexpr int kListCellMargin = 2 * 6;
// The drop-down keeps its arrow button and a border.
constexpr int kDropDownMargin = 17 + 2 * 3;

void CheckPromptFit(HWND dialog)
{
    FitCheck fit;
    struct { int id; const char* what; bool radio; } const labels[] = {
        {IDOK, "ok-button", false},           {IDCANCEL, "cancel-button", false},
        {IDC_PREFERENCES, "preferences-button", false}, {IDC_ALWAYS, "always-radio", true},
        {IDC_JUST_THIS_TIME, "just-this-time-radio", true}, {IDC_NEVER, "never-radio", true},
    };
    for (const auto& label : labels) {
        HWND control = GetDlgItem(dialog, label.id);
        fit.Line(label.what, driver::Text(control),
                 ClientWidth(control) - (label.radio ? kRadioMargin : kPushButtonMargin));
    }
    HWND message = GetDlgItem(dialog, IDC_MESSAGE);
    RECT client = {};
    GetClientRect(message, &client);
    fit.Wrapped("message", driver::Text(message), client.right, client.bottom);
}

void CheckPreferencesFit(HWND dialog)
{
    FitCheck fit;
    struct { int id; const char* what; } const buttons[] = {
        {IDOK, "ok-button"}, {IDCANCEL, "cancel-button"}, {IDC_ADD, "add-button"}, {IDC_REMOVE, "remove-button"},
    };
    for (const auto& button : buttons) {
        HWND control = GetDlgItem(dialog, button.id);
        fit.Line(button.what, driver::Text(control), ClientWidth(control) - kPushButtonMargin);
    }
    HWND list = GetDlgItem(dialog, IDC_SITE_LIST);
    std::vector<std::wstring> columns = driver::ListColumns(list);
    const char* const columnNames[] = {"domain-column", "decision-column"};
    for (size_t i = 0; i < columns.size() && i < 2; ++i)
        fit.Line(columnNames[i], columns[i], driver::ListColumnWidth(list, static_cast<int>(i)) - kListCellMargin);
    // The decision words, in the list's cells and in the drop-down over them.
    int cellRoom = driver::ListColumnWidth(list, 1) - kListCellMargin;
    RECT cell = driver::ListSubItemRect(list, 0, 1);
    int dropDownRoom = (cell.right - cell.left - 1) - kDropDownMargin;
    for (const driver::ListRow& row : driver::ListRows(list)) {
        fit.Line("decision-cell", row.decision, cellRoom);
        if (row.data)  // a row of the policy's has no drop-down
            fit.Line("decision-editor", row.decision, dropDownRoom, true);
    }
}

struct Options {
    std::vector<std::pair<std::wstring, DWORD>> sites;  // name, decision
    std::vector<std::pair<std::wstring, std::wstring>> policy;  // list (AllowedSites, BlockedSites), entry
    int selectRow = -1;
    bool checkFit = false;
    bool listLanguages = false;
    DWORD waitMs = 15000;
    DWORD holdMs = 60000;
    std::wstring tail;
    bool haveTail = false;
};

// "NAME=allow" or "NAME=deny"; the name may itself hold "=".
bool ParseSite(const std::wstring& site, Options* options)
{
    size_t equals = site.rfind(L'=');
    if (equals == std::wstring::npos)
        return false;
    std::wstring decision = site.substr(equals + 1);
    if (decision != L"allow" && decision != L"deny")
        return false;
    options->sites.emplace_back(site.substr(0, equals), decision == L"allow" ? 1u : 0u);
    return true;
}

// "allowed=ENTRY" or "blocked=ENTRY".
bool ParsePolicyEntry(const std::wstring& text, Options* options)
{
    size_t equals = text.find(L'=');
    std::wstring list = text.substr(0, equals);
    if (equals == std::wstring::npos || (list != L"allowed" && list != L"blocked"))
        return false;
    options->policy.emplace_back(list == L"allowed" ? POLICY_ALLOWED_SITES : POLICY_BLOCKED_SITES,
                                 text.substr(equals + 1));
    return true;
}

bool ParseOptions(int argc, wchar_t** argv, Options* options)
{
    for (int i = 1; i < argc; ++i) {
        std::wstring arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == L"--site" && hasValue) {
            if (!ParseSite(argv[++i], options))
                return false;
        } else if (arg == L"--policy" && hasValue) {
            if (!ParsePolicyEntry(argv[++i], options))
                return false;
        } else if (arg == L"--select" && hasValue) {
            options->selectRow = _wtoi(argv[++i]);
        } else if (arg == L"--fit") {
            options->checkFit = true;
        } else if (arg == L"--languages") {
            options->listLanguages = true;
        } else if (arg == L"--wait-ms" && hasValue) {
            options->waitMs = static_cast<DWORD>(_wtoi(argv[++i]));
        } else if (arg == L"--hold-ms" && hasValue) {
            options->holdMs = static_cast<DWORD>(_wtoi(argv[++i]));
        } else if (arg == L"--" && hasValue) {
            options->tail = argv[++i];
            options->haveTail = true;
        } else {
            return false;
        }
    }
    return options->listLanguages || options->haveTail;
}

int ListLanguages()
{
    for (const InterfaceLanguage& language : InterfaceLanguages)
        Say(Utf8(language.code));
    return 0;
}

// Every picture starts from the same remembered sites, whatever ran before.
void SeedDecisions(const Options& options)
{
    driver::DeleteDecisionsKey();
    for (const auto& site : options.sites)
        driver::WriteDword(site.first, site.second);
}

// The machine's policy as Group Policy writes it: each list a subkey of
// values "1", "2", ...; none at all when no entry is given.
void SeedPolicy(const Options& options)
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, POLICY_KEY_PATH);
    DWORD number = 0;
    for (const auto& [list, entry] : options.policy) {
        HKEY key;
        std::wstring path = std::wstring(POLICY_KEY_PATH) + L"\\" + list, name = std::to_wstring(++number);
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
            ERROR_SUCCESS)
            continue;
        RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(entry.c_str()),
                       DWORD((entry.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
}

// A copy still on its way out (the previous picture's) would make this start
// end at once, as a second instance does.
void WaitForThePreviousCopyToEnd()
{
    driver::WaitUntil(
        [] {
            HANDLE guard = OpenMutexW(SYNCHRONIZE, FALSE, L"HalvaneExe");
            if (!guard)
                return true;
            CloseHandle(guard);
            return false;
        },
        10000, 50);
}

// Halvane's dialog, or null after saying why there is none.
HWND WaitForTheDialog(const driver::ScopedProcess& halvane, DWORD waitMs)
{
    if (!halvane.get().handle) {
        fprintf(stderr, "gallery_shot: cannot start %ls (error %lu)\n", driver::ProgramPath().c_str(),
                static_cast<unsigned long>(GetLastError()));
        return nullptr;
    }
    HWND dialog = driver::WaitForDialog(halvane.id(), waitMs);
    if (dialog)
        return dialog;
    DWORD code = halvane.WaitForExit(0);
    if (code == STILL_ACTIVE)
        fprintf(stderr, "gallery_shot: no dialog within %lu ms\n", static_cast<unsigned long>(waitMs));
    else
        fprintf(stderr, "gallery_shot: halvane ended with 0x%lX before showing a dialog\n",
                static_cast<unsigned long>(code));
    return nullptr;
}

void SelectListRow(HWND dialog, int row)
{
    HWND list = GetDlgItem(dialog, IDC_SITE_LIST);
    if (!list)
        return;
    // Focus first, through the dialog manager of halvane's own thread, so the
    // selected row is drawn highlighted as a user's click would leave it.
    PostMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(list), TRUE);
    driver::ListSelect(list, row);
}

void ReportDialog(HWND dialog, bool checkFit)
{
    // A sent message returns only once halvane's thread has worked through
    // what came before it, so the dialog is laid out when the rectangle is read.
    DWORD_PTR ignored;
    SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);

    RECT frame = driver::WindowRect(dialog);
    Say("CAPTION " + Utf8(driver::Text(dialog)));
    char rect[96];
    snprintf(rect, sizeof(rect), "RECT %ld %ld %ld %ld", frame.left, frame.top, frame.right - frame.left,
             frame.bottom - frame.top);
    Say(rect);
    if (checkFit) {
        if (GetDlgItem(dialog, IDC_SITE_LIST))
            CheckPreferencesFit(dialog);
        else
            CheckPromptFit(dialog);
    }
    Say("READY");
}

// The caller's "done" (any line, or the end of input) arrives on a thread of
// its own, so the hold can be bounded by a wait on that thread.
DWORD WINAPI ReadOneLine(void*)
{
    char line[256];
    DWORD read = 0;
    ReadFile(GetStdHandle(STD_INPUT_HANDLE), line, sizeof(line), &read, nullptr);
    return 0;
}

int HoldUntilTold(DWORD holdMs)
{
    HANDLE reader = CreateThread(nullptr, 0, ReadOneLine, nullptr, 0, nullptr);
    DWORD held = reader ? WaitForSingleObject(reader, holdMs) : WAIT_FAILED;
    // The reader may still block in ReadFile; the process end takes it along.
    return held == WAIT_OBJECT_0 ? 0 : 4;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    Options options;
    if (!ParseOptions(argc, argv, &options))
        return Usage();
    if (options.listLanguages)
        return ListLanguages();

    SeedDecisions(options);
    SeedPolicy(options);
    WaitForThePreviousCopyToEnd();
    driver::ScopedProcess halvane(driver::Launch(options.tail));
    HWND dialog = WaitForTheDialog(halvane, options.waitMs);
    if (!dialog)
        return 2;
    if (options.selectRow >= 0)
        SelectListRow(dialog, options.selectRow);
    ReportDialog(dialog, options.checkFit);
    return HoldUntilTold(options.holdMs);
}
