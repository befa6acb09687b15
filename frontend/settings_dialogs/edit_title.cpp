#include "settings_dialogs/edit_title.hpp"

namespace mvx::settings_dialogs {

EditTitleModel::EditTitleModel(std::string_view title, tool::ShellUi& ui, SettingsReceiver& page)
    : title_(title), ui_(ui), page_(page)
{
}

bool EditTitleModel::fits(std::string_view text, DialogResult& result)
{
    if (text.size() <= kTitleMaxLength)
        return true;
    result.shown.push_back(tooLongPrompt(kTitleMaxLength));
    ui_.showMessage(result.shown.back(), tool::kToolCaption);
    return false;
}

DialogResult EditTitleModel::send()
{
    DialogResult result;
    tool::TextField buffer;
    tool::setText(buffer, title_);
    sendTo(page_, tool::notifyTitle(buffer), result);
    return result;
}

DialogResult EditTitleModel::edited(std::string_view text)
{
    DialogResult refused;
    if (!fits(text, refused))
        return refused;
    title_ = text;
    return send();
}

DialogResult EditTitleModel::setDefault()
{
    title_ = tool::kDefaultUserTitle;
    return send();
}

std::optional<std::string> EditTitleModel::accept(std::string_view text)
{
    DialogResult refused;
    if (!fits(text, refused))
        return std::nullopt;
    title_ = text;
    return title_;
}

}  // namespace mvx::settings_dialogs
