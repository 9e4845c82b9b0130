#pragma once

#include <QString>
#include <QUrl>

namespace quorin {

// Telegram's two link hosts and the platform's two handles there, fixed at build time: the
// support channel, which the support button opens, and the bot that links an account to
// Telegram notifications. Pure functions over them.
class TelegramLinks
{
public:
    static constexpr const char *kShortHost = "t.me";
    static constexpr const char *kLongHost = "telegram.me";
    static constexpr const char *kSupportHandle = "quorin_support";
    static constexpr const char *kBotHandle = "quorin_alerts_bot";

    // The support channel on the short host, opened as a direct chat: "https://t.me/<handle>?direct".
    [[nodiscard]] static QString defaultSupportUrl();
    // An https link on either Telegram host, with a path and without user information; a link to
    // the support channel gains the bare "direct" item. Empty for anything else.
    [[nodiscard]] static QString normalizedSupportUrl(const QString &url);
    // The bot's link that starts the linking of this Telegram user id.
    [[nodiscard]] static QUrl botLink(const QString &telegramUserId);
};

} // namespace quorin
