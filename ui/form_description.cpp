#include "zelvane/ui/form_description.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <string>

namespace zelvane::ui {
namespace {

constexpr Colour kLightGrey{221, 221, 221};
constexpr FontDescription kArial{"Arial", 8.25, 400, "Liberation Sans"};
constexpr FontDescription kSansSerif{"MS Sans Serif", 8.25, 400, "Sans Serif"};

constexpr FormDescription kForm{
    .name = kFormName,
    .title = "Zelvane (3.x) updater (rev2.02)",
    .clientTwips = {0, 0, 10635, 7500},
    .background = kLightGrey,
    .font = kArial,
};

constexpr std::array kControls{
    ControlDescription{.name = "Frame1",
                       .kind = ControlKind::Frame,
                       .container = kFormName,
                       .caption = "Install",
                       .twips = {120, 90, 10395, 5415},
                       .tabIndex = 2,
                       .font = kArial,
                       .background = kLightGrey},
    ControlDescription{.name = "Image1",
                       .kind = ControlKind::Picture,
                       .container = "Frame1",
                       .twips = {240, 330, 9870, 4740},
                       .font = kArial,
                       .accessibleName = "Zelvane update banner"},
    ControlDescription{.name = "Label1",
                       .kind = ControlKind::Label,
                       .container = "Frame1",
                       .caption = "Path",
                       .twips = {5730, 4530, 855, 255},
                       .tabIndex = 5,
                       .font = kSansSerif,
                       .background = kLightGrey,
                       .alignment = TextAlignment::Right,
                       .labelFor = "Text1"},
    ControlDescription{.name = "Text1",
                       .kind = ControlKind::TextBox,
                       .container = "Frame1",
                       .caption = "C:\\Program Files\\Zelvane",
                       .twips = {6690, 4500, 2175, 315},
                       .tabIndex = 4,
                       .font = kArial},
    ControlDescription{.name = "Command3",
                       .kind = ControlKind::PushButton,
                       .container = "Frame1",
                       .caption = "Browse...",
                       .twips = {8910, 4500, 975, 330},
                       .tabIndex = 3,
                       .font = kArial},
    ControlDescription{.name = "Label2",
                       .kind = ControlKind::Label,
                       .container = kFormName,
                       .caption = kLabel2Text,
                       .twips = {150, 5700, 10305, 675},
                       .tabIndex = 7,
                       .font = kArial,
                       .background = kLightGrey,
                       .wordWrap = true},
    ControlDescription{.name = "Check1",
                       .kind = ControlKind::CheckBox,
                       .container = kFormName,
                       .caption = "Silent mode",
                       .twips = {9360, 6270, 1155, 225},
                       .tabIndex = 8,
                       .font = kArial,
                       .background = kLightGrey,
                       .initialValue = 0,
                       .boxRightOfCaption = true},
    ControlDescription{.name = "ProgressBar1",
                       .kind = ControlKind::ProgressBar,
                       .container = kFormName,
                       .twips = {120, 6660, 10365, 255},
                       .tabIndex = 6,
                       .font = kArial,
                       .accessibleName = "Update progress"},
    ControlDescription{.name = "Command1",
                       .kind = ControlKind::PushButton,
                       .container = kFormName,
                       .caption = "Install",
                       .twips = {120, 7050, 1455, 375},
                       .tabIndex = 0,
                       .font = kArial,
                       .describedBy = "Label2"},
    ControlDescription{.name = "Command2",
                       .kind = ControlKind::PushButton,
                       .container = kFormName,
                       .caption = "Cancel",
                       .twips = {9030, 7050, 1455, 375},
                       .tabIndex = 1,
                       .font = kArial},
};

// Every twips value is a whole number of pixels.
constexpr bool WholePixels(const TwipsRect& twips) {
    return twips.left % kTwipsPerPixel == 0 && twips.top % kTwipsPerPixel == 0 &&
           twips.width % kTwipsPerPixel == 0 && twips.height % kTwipsPerPixel == 0;
}
static_assert(std::ranges::all_of(kControls, [](const auto& c) { return WholePixels(c.twips); }));
static_assert(WholePixels(kForm.clientTwips));

}  // namespace

std::string NoticeText() {
    return std::string(kNoticeFirstPiece) + kNoticeSeparator + std::string(kNoticeSecondPiece);
}

const FormDescription& Form() { return kForm; }

std::span<const ControlDescription> Controls() { return kControls; }

const ControlDescription& Control(std::string_view name) {
    const auto found = std::ranges::find(kControls, name, &ControlDescription::name);
    if (found == kControls.end()) {
        throw std::out_of_range("The window has no control named " + std::string(name));
    }
    return *found;
}

std::vector<std::string_view> FocusOrder() {
    std::vector<const ControlDescription*> focusable;
    for (const auto& control : kControls) {
        if (TakesFocus(control.kind)) focusable.push_back(&control);
    }
    std::ranges::sort(focusable, {}, &ControlDescription::tabIndex);
    std::vector<std::string_view> names;
    names.reserve(focusable.size());
    for (const auto* control : focusable) names.push_back(control->name);
    return names;
}

std::string_view InitialFocus() { return FocusOrder().front(); }

}  // namespace zelvane::ui
