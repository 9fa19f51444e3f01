#pragma once

// The updater's window described once, as plain data, for every renderer (Qt on Linux, Win32 on
// Windows) to build itself from. Nothing here depends on a toolkit.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "zelvane/engine/window_side.h"
#include "zelvane/ui/texts.h"

namespace zelvane::ui {

inline constexpr int kTwipsPerPixel = 15;

struct PixelRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    friend constexpr bool operator==(const PixelRect&, const PixelRect&) = default;
};

// A rectangle in twips (1/1440 inch); inside a frame it is measured from the frame's top left
// corner, elsewhere from the top left corner of the window's client area.
struct TwipsRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    constexpr PixelRect Pixels() const {
        return {left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel,
                height / kTwipsPerPixel};
    }
};

struct Colour {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    // The colour as a Windows colour value, 0x00BBGGRR.
    constexpr std::uint32_t Value() const {
        return static_cast<std::uint32_t>(red) | static_cast<std::uint32_t>(green) << 8 |
               static_cast<std::uint32_t>(blue) << 16;
    }
    friend constexpr bool operator==(const Colour&, const Colour&) = default;
};

struct FontDescription {
    std::string_view family{};
    double points = 0;
    int weight = 400;
    // Used where the family is not installed; empty when the family is expected everywhere.
    std::string_view fallbackFamily{};
};

enum class ControlKind { Frame, Picture, Label, TextBox, PushButton, CheckBox, ProgressBar };

// Frames, pictures, labels and progress bars never take the focus.
constexpr bool TakesFocus(ControlKind kind) {
    return kind == ControlKind::TextBox || kind == ControlKind::PushButton ||
           kind == ControlKind::CheckBox;
}

enum class TextAlignment { Left, Right };

inline constexpr int kNoTabIndex = -1;

// Every control of the window, in the order they are created.
enum class ControlId {
    Frame1, Image1, Label1, Text1, Command3, Label2, Check1, ProgressBar1, Command1, Command2
};

struct ControlDescription {
    ControlId id = ControlId::Frame1;
    std::string_view name{};
    ControlKind kind = ControlKind::Label;
    // The frame that holds the control; none for a control of the window itself.
    std::optional<ControlId> frame{};
    // The caption, the initial text, or empty (picture, progress bar).
    std::string_view caption{};
    TwipsRect twips{};
    int tabIndex = kNoTabIndex;
    FontDescription font{};
    // Empty: the system's standard colours for this kind of control.
    std::optional<Colour> background{};
    TextAlignment alignment = TextAlignment::Left;
    bool wordWrap = false;
    // Check box: its initial value (0 clear, 1 checked), and whether the box stands to the right
    // of its caption.
    int initialValue = 0;
    bool boxRightOfCaption = false;
    // For screen readers: the name of a control that shows no caption of its own, the control
    // that a label names, and the control whose caption tells more about this one.
    std::string_view accessibleName{};
    std::optional<ControlId> labelFor{};
    std::optional<ControlId> describedBy{};

    constexpr PixelRect Pixels() const { return twips.Pixels(); }
};

struct FormDescription {
    std::string_view name{};
    std::string_view title{};
    TwipsRect clientTwips{};  // left and top are 0
    Colour background{};
    FontDescription font{};
    bool resizable = false;

    constexpr PixelRect ClientPixels() const { return clientTwips.Pixels(); }
};

inline constexpr std::string_view kFormName = "Form1";

inline constexpr MessageKind kNoticeKind = MessageKind::Information;
// The backup notice's two pieces joined as the message box is given them.
std::string NoticeText();

const FormDescription& Form();

// Every control, in the order they are created: within each container this is back to front,
// so the banner lies behind the path row.
std::span<const ControlDescription> Controls();

const ControlDescription& Control(ControlId id);

// The controls that take the focus, in tab order.
std::vector<ControlId> FocusOrder();

// The control that holds the focus when the window opens.
ControlId InitialFocus();

// The banner as an uncompressed bottom-up Windows bitmap with a 256-colour palette, file header
// included (209,640 bytes).
std::span<const std::byte> BannerBitmap();

}  // namespace zelvane::ui
