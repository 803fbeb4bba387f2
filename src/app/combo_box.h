// ComboBox: a drop-down list control of a dialog, seen through its messages.
// Item data is an untyped pointer the caller owns; the control neither frees
// nor copies what it points to.
#pragma once

#include <windows.h>

#include <string>

class ComboBox {
public:
    void attach(HWND control) { window = control; }
    HWND hwnd() const { return window; }

    int count() const;
    int currentSelection() const;  // CB_ERR (-1) when nothing is selected
    void setCurrentSelection(int index);
    void resetContent();
    // Adds text where the list's own order puts it; returns that position.
    int addString(const std::wstring& text);
    // Takes the entry at index out; the entries after it move up by one.
    void deleteString(int index);
    // nullptr when the entry has none or does not exist.
    void* itemData(int index) const;
    void setItemData(int index, void* data);

private:
    HWND window = nullptr;
};
