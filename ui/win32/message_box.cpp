#include "message_box.h"

#include "resource.h"
#include "zelvane/ui/form_description.h"
#include "zelvane/win32/text.h"

namespace zelvane::ui {
namespace {

using win32::Wide;

UINT MessageBoxStyle(MessageKind kind) {
    switch (kind) {
        case MessageKind::Ok:
            return MB_OK;
        case MessageKind::Information:
            return MB_OK | MB_ICONINFORMATION;
    }
    return MB_OK;
}

// Edit controls break lines only at a carriage return and line feed.
std::wstring EditText(const std::string& text) {
    std::wstring edited;
    for (const wchar_t character : Wide(text)) {
        if (character == L'\n') edited += L'\r';
        edited += character;
    }
    return edited;
}

// The failure list's texts, made before the dialog opens, so that no conversion can fail in its
// dialog procedure.
struct FailureTexts {
    std::wstring title;
    std::wstring text;
    std::wstring details;
};

INT_PTR CALLBACK FailureListProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            const auto* texts = reinterpret_cast<const FailureTexts*>(lParam);
            ::SetWindowTextW(dialog, texts->title.c_str());
            ::SetDlgItemTextW(dialog, IDC_FAILURE_TEXT, texts->text.c_str());
            ::SetDlgItemTextW(dialog, IDC_FAILURE_DETAILS, texts->details.c_str());
            ::SetFocus(::GetDlgItem(dialog, IDOK));
            return FALSE;  // the focus is set
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                ::EndDialog(dialog, IDOK);
                return TRUE;
            }
            break;
    }
    return FALSE;
}

}  // namespace

void ShowMessageBox(HWND owner, const std::string& text, MessageKind kind,
                    const std::string& title) {
    const std::wstring caption = Wide(title.empty() ? std::string(text::kApplicationTitle) : title);
    ::MessageBoxW(owner, Wide(text).c_str(), caption.c_str(), MessageBoxStyle(kind));
}

void ShowFailureList(HWND owner, const FailureReport& report) {
    const FailureTexts texts{Wide(text::kApplicationTitle), EditText(report.text),
                             EditText(report.details)};
    if (::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_FAILURE_LIST), owner,
                          FailureListProcedure, reinterpret_cast<LPARAM>(&texts)) == -1) {
        win32::ThrowLastError(text::kCannotShow, text::kFailureList);
    }
}

}  // namespace zelvane::ui
