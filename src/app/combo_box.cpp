#include "app/combo_box.h"

int ComboBox::count() const {
    return static_cast<int>(SendMessageW(window, CB_GETCOUNT, 0, 0));
}

int ComboBox::currentSelection() const {
    return static_cast<int>(SendMessageW(window, CB_GETCURSEL, 0, 0));
}

void ComboBox::setCurrentSelection(int index) {
    SendMessageW(window, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void ComboBox::resetContent() {
    SendMessageW(window, CB_RESETCONTENT, 0, 0);
}

int ComboBox::addString(const std::wstring& text) {
    return static_cast<int>(
        SendMessageW(window, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
}

void ComboBox::deleteString(int index) {
    SendMessageW(window, CB_DELETESTRING, static_cast<WPARAM>(index), 0);
}

void* ComboBox::itemData(int index) const {
    const LRESULT data = SendMessageW(window, CB_GETITEMDATA, static_cast<WPARAM>(index), 0);
    if (data == CB_ERR) {
        return nullptr;
    }
    return reinterpret_cast<void*>(data);
}

void ComboBox::setItemData(int index, void* data) {
    SendMessageW(window, CB_SETITEMDATA, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(data));
}
