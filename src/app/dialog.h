// Dialog: a modal dialog run by DialogBoxIndirectParamW from its template in
// the program's language; the base of this program's one window.
//
// The derived class is the dialog's message map: Route() receives every message
// after WM_INITDIALOG and passes each one it handles to one handler; what it
// does not handle gets the dialog manager's default processing. WM_INITDIALOG
// goes to OnInitDialog, whose base version binds the controls (DoDataExchange).
// The template leaves WS_VISIBLE out: a dialog that calls startHidden() during
// its initialisation is never shown, not even for a moment, whatever the
// dialog manager does (it shows a modal dialog when its queue first runs
// empty), until its own code shows it with ShowWindow. That is how a modal
// dialog starts in the tray.
//
// Lifetime: the object outlives its window. DoModal creates the window, runs the
// modal loop until EndDialog, destroys the window (WM_DESTROY reaches Route
// first) and returns. All of it runs on the calling thread.
#pragma once

#include <windows.h>

class Dialog {
public:
    explicit Dialog(int templateId);
    virtual ~Dialog() = default;
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // Runs the dialog from its template in the executable, in the program's
    // language (uiLanguage()), with no owner window.
    // Returns the value given to EndDialog, or -1 when the window could not be made.
    INT_PTR DoModal();

    // The window while it exists, nullptr otherwise.
    HWND hwnd() const { return window; }

protected:
    // Handles WM_INITDIALOG. The base binds the controls; overrides call it first.
    // TRUE lets the dialog manager give the focus to the first control.
    virtual BOOL OnInitDialog();
    // Attaches control wrappers to their windows; called by OnInitDialog.
    virtual void DoDataExchange() {}
    // The message map. Returns true when the message was handled, with result as
    // its LRESULT; false leaves it to the default processing.
    virtual bool Route(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    // The base's part of WM_DESTROY; overrides call it last.
    virtual void OnDestroy() {}

    // Ends the modal loop; DoModal then returns result.
    void EndDialog(INT_PTR result);
    // Shows or hides the window (SW_SHOW, SW_HIDE, ...); any showing command
    // ends startHidden().
    BOOL ShowWindow(int command);
    // Keeps the window hidden and inactive until ShowWindow shows it.
    void startHidden() { holdHidden = true; }

private:
    static INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    const int templateId;
    HWND window = nullptr;
    bool holdHidden = false;  // refuse to show the window, or to activate it
};
