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
    .title = text::kFormTitle,
    .clientTwips = {0, 0, 10635, 7500},
    .background = kLightGrey,
    .font = kArial,
};

constexpr std::array kControls{
    ControlDescription{.id = ControlId::Frame1,
                       .name = "Frame1",
                       .kind = ControlKind::Frame,
                                              .caption = text::kFrame1,
                       .twips = {120, 90, 10395, 5415},
                       .tabIndex = 2,
                       .font = kArial,
                       .background = kLightGrey},
    ControlDescription{.id = ControlId::Image1,
                       .name = "Image1",
                       .kind = ControlKind::Picture,
                       .frame = ControlId::Frame1,
                       .twips = {240, 330, 9870, 4740},
                       .font = kArial,
                       .accessibleName = text::kImage1Name},
    ControlDescription{.id = ControlId::Label1,
                       .name = "Label1",
                       .kind = ControlKind::Label,
                       .frame = ControlId::Frame1,
                       .caption = text::kLabel1,
                       .twips = {5730, 4530, 855, 255},
                       .tabIndex = 5,
                       .font = kSansSerif,
                       .background = kLightGrey,
                       .alignment = TextAlignment::Right,
                       .labelFor = ControlId::Text1},
    ControlDescription{.id = ControlId::Text1,
                       .name = "Text1",
                       .kind = ControlKind::TextBox,
                       .frame = ControlId::Frame1,
                       .caption = text::kText1,
                       .twips = {6690, 4500, 2175, 315},
                       .tabIndex = 4,
                       .font = kArial},
    ControlDescription{.id = ControlId::Command3,
                       .name = "Command3",
                       .kind = ControlKind::PushButton,
                       .frame = ControlId::Frame1,
                       .caption = text::kCommand3,
                       .twips = {8910, 4500, 975, 330},
                       .tabIndex = 3,
                       .font = kArial},
    ControlDescription{.id = ControlId::Label2,
                       .name = "Label2",
                       .kind = ControlKind::Label,
                                              .caption = text::kLabel2,
                       .twips = {150, 5700, 10305, 675},
                       .tabIndex = 7,
                       .font = kArial,
                       .background = kLightGrey,
                       .wordWrap = true},
    ControlDescription{.id = ControlId::Check1,
                       .name = "Check1",
                       .kind = ControlKind::CheckBox,
                                              .caption = text::kCheck1,
                       .twips = {9360, 6270, 1155, 225},
                       .tabIndex = 8,
                       .font = kArial,
                       .background = kLightGrey,
                       .initialValue = 0,
                       .boxRightOfCaption = true},
    ControlDescription{.id = ControlId::ProgressBar1,
                       .name = "ProgressBar1",
                       .kind = ControlKind::ProgressBar,
                                              .twips = {120, 6660, 10365, 255},
                       .tabIndex = 6,
                       .font = kArial,
                       .accessibleName = text::kProgressBar1Name},
    ControlDescription{.id = ControlId::Command1,
                       .name = "Command1",
                       .kind = ControlKind::PushButton,
                                              .caption = text::kCommand1,
                       .twips = {120, 7050, 1455, 375},
                       .tabIndex = 0,
                       .font = kArial,
                       .describedBy = ControlId::Label2},
    ControlDescription{.id = ControlId::Command2,
                       .name = "Command2",
                       .kind = ControlKind::PushButton,
                                              .caption = text::kCommand2,
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

// A control's id is its place in the list, so that finding one needs no search.
constexpr bool InIdOrder() {
    for (std::size_t i = 0; i < kControls.size(); ++i) {
        if (kControls[i].id != static_cast<ControlId>(i)) return false;
    }
    return true;
}
static_assert(InIdOrder());

}  // namespace

std::string NoticeText() {
    return std::string(text::kNoticeFirstPiece) + text::kNoticeSeparator +
           text::kNoticeSecondPiece;
}

const FormDescription& Form() { return kForm; }

std::span<const ControlDescription> Controls() { return kControls; }

const ControlDescription& Control(ControlId id) {
    return kControls.at(static_cast<std::size_t>(id));
}

std::vector<ControlId> FocusOrder() {
    std::vector<const ControlDescription*> focusable;
    for (const auto& control : kControls) {
        if (TakesFocus(control.kind)) focusable.push_back(&control);
    }
    std::ranges::sort(focusable, {}, &ControlDescription::tabIndex);
    std::vector<ControlId> ids;
    ids.reserve(focusable.size());
    for (const auto* control : focusable) ids.push_back(control->id);
    return ids;
}

ControlId InitialFocus() { return FocusOrder().front(); }

}  // namespace zelvane::ui
