#include "sample-server/SampleServer.h"

#include "testsupport/JwtMaker.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QTextStream>

namespace {

constexpr auto ApiPrefix = "/api/v1/";

QString apiPath(const char *relative)
{
    return QLatin1String(ApiPrefix) + QLatin1String(relative);
}

QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QString bearerToken(const quorin::test::FixtureServer::Request &request)
{
    const QByteArray authorization = request.header("Authorization");
    if (!authorization.startsWith("Bearer "))
        return {};
    return QString::fromUtf8(authorization.mid(7)).trimmed();
}

quorin::test::FixtureServer::Response unauthorized()
{
    return quorin::test::FixtureServer::Response::json(
        R"({"error":"unauthorized","message":"Authentication required"})", 401);
}

QString randomToken()
{
    QByteArray bytes(24, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
    return QString::fromLatin1(bytes.toHex());
}

} // namespace

SampleServer::SampleServer(const Options &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_learningRoutes(options.dataFolder, options.mediaFolder,
                       [this](const Request &request) { return userForAccessToken(request); })
    , m_quizRoutes(options.dataFolder, [this](const Request &request) { return userForAccessToken(request); })
    , m_releases({options.releaseMode, options.dataFolder, options.releaseFolder, options.signingKeyFile})
{
    m_server.setKeepLog(false);
    m_learningRoutes.setProgressUnavailable(options.progressUnavailable);
    m_quizRoutes.setHeldStart(options.heldStartQuiz, options.startHoldMs);
    connect(&m_server, &quorin::test::FixtureServer::requestReceived, this, &SampleServer::logRequest);
}

bool SampleServer::start()
{
    if (!QFileInfo::exists(QDir(m_options.dataFolder).filePath(QStringLiteral("account.json")))) {
        m_error = QStringLiteral("no account.json in %1").arg(m_options.dataFolder);
        return false;
    }
    const QJsonObject account = readData(QStringLiteral("account.json"));
    m_institutions = readData(QStringLiteral("institutions.json"));
    m_sampleNumber = account.value(QStringLiteral("mobileNumber")).toString();
    Account sample{account.value(QStringLiteral("userId")).toString(), SampleProfile()};
    sample.profile.load(readData(QStringLiteral("me.json")),
                        account.value(QStringLiteral("password")).toString(), m_institutions);
    m_accounts.insert(m_sampleNumber, sample);
    if (!m_releases.prepare()) {
        m_error = m_releases.errorString();
        return false;
    }
    addRoutes();
    if (!m_server.listen(m_options.port)) {
        m_error = QStringLiteral("cannot listen on port %1").arg(m_options.port);
        return false;
    }
    return true;
}

QJsonObject SampleServer::readData(const QString &fileName) const
{
    QFile file(QDir(m_options.dataFolder).filePath(fileName));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

void SampleServer::addRoutes()
{
    m_server.serveDirectory(QStringLiteral("/media/"), m_options.mediaFolder);
    addDocumentRoutes();
    m_server.setHandler(apiPath("auth/login"), [this](const Request &request) { return login(request); });
    m_server.setHandler(apiPath("auth/refresh"), [this](const Request &request) { return refresh(request); });
    m_server.setHandler(apiPath("auth/signup"), [this](const Request &request) { return signup(request); });
    m_server.setHandler(apiPath("auth/forgot-password"),
                        [this](const Request &request) { return forgotPassword(request); });
    m_server.setHandler(apiPath("auth/reset-password"),
                        [this](const Request &request) { return resetPassword(request); });
    m_server.setHandler(apiPath("users/me"), [this](const Request &request) { return currentUser(request); });
    m_server.setHandler(apiPath("users/me/change-password"),
                        [this](const Request &request) { return changePassword(request); });
    m_server.setHandler(apiPath("institutions"),
                        [this](const Request &request) { return institutions(request); });
    m_server.setHandler(apiPath("desktop/client-config"),
                        [this](const Request &request) { return clientConfig(request); });
    m_server.setHandler(apiPath("notifications/telegram"),
                        [this](const Request &request) { return telegram(request); });
    m_server.setHandler(QStringLiteral("/privacy-policy"), [](const Request &request) {
        return websitePage(request, QStringLiteral("Privacy policy"));
    });
    m_server.setHandler(QStringLiteral("/terms-of-service"), [](const Request &request) {
        return websitePage(request, QStringLiteral("Terms of service"));
    });
    m_learningRoutes.addTo(m_server);
    m_quizRoutes.addTo(m_server);
    m_server.setHandler(QStringLiteral("/v1/logs"),
                        [](const Request &request) { return collectLogs(request); });
    m_releases.addTo(m_server);
}

QJsonObject SampleServer::issueTokens(const QString &userId)
{
    const qint64 expiry = QDateTime::currentSecsSinceEpoch() + m_options.accessTokenLifetimeSeconds;
    const QString accessToken =
        QString::fromLatin1(quorin::test::JwtMaker::make({{QStringLiteral("sub"), userId},
                                                          {QStringLiteral("exp"), expiry},
                                                          {QStringLiteral("jti"), randomToken()}}));
    const QString refreshToken = randomToken();
    m_accessTokens.insert(accessToken, userId);
    m_refreshTokens.insert(refreshToken, userId);
    return {{QStringLiteral("accessToken"), accessToken}, {QStringLiteral("refreshToken"), refreshToken}};
}

SampleServer::Account *SampleServer::accountWithNumber(const QString &mobileNumber)
{
    const auto found = m_accounts.find(mobileNumber);
    return found == m_accounts.end() ? nullptr : &found.value();
}

SampleServer::Account *SampleServer::accountOfUser(const QString &userId)
{
    for (Account &account : m_accounts) {
        if (account.userId == userId)
            return &account;
    }
    return nullptr;
}

SampleServer::Response SampleServer::login(const Request &request)
{
    if (request.method != "POST")
        return Response(405);
    const QJsonObject body = QJsonDocument::fromJson(request.body).object();
    const Account *account = accountWithNumber(body.value(QStringLiteral("mobileNumber")).toString());
    if (!account || body.value(QStringLiteral("password")).toString() != account->profile.password())
        return Response::json(R"({"error":"invalid-credentials","message":"Wrong password"})", 401);
    return Response::json(compact(issueTokens(account->userId)));
}

SampleServer::Response SampleServer::signup(const Request &request)
{
    if (request.method != "POST")
        return Response(405);
    const QJsonObject body = QJsonDocument::fromJson(request.body).object();
    const QString number = body.value(QStringLiteral("mobileNumber")).toString();
    const QString password = body.value(QStringLiteral("password")).toString();
    if (accountWithNumber(number))
        return Response::json(
            R"({"error":"mobile-taken","message":"An account with this mobile number already exists."})",
            409);
    if (number.isEmpty() || password != body.value(QStringLiteral("confirmPassword")).toString() ||
        !SampleProfile::isAcceptablePassword(password))
        return Response::json(R"({"error":"invalid-signup","message":"Enter a mobile number and a password )"
                              R"(of at least 8 characters, typed the same twice."})",
                              400);
    Account account{QStringLiteral("u-%1").arg(2001 + m_signedUpAccounts), SampleProfile()};
    account.profile.load({{QStringLiteral("id"), account.userId},
                          {QStringLiteral("mobileNumber"), number},
                          {QStringLiteral("enrollments"), QJsonArray()}},
                         password, m_institutions);
    // The profile's own rules judge the names and the academic year, as an edit would.
    const QJsonObject profile{{QStringLiteral("fullName"), body.value(QStringLiteral("fullName"))},
                              {QStringLiteral("nickname"), body.value(QStringLiteral("nickname"))},
                              {QStringLiteral("yearId"), body.value(QStringLiteral("yearId"))}};
    const Response made = account.profile.update(compact(profile));
    if (made.status != 200)
        return made;
    ++m_signedUpAccounts;
    m_accounts.insert(number, account);
    return Response::json(R"({"success":true})");
}

SampleServer::Response SampleServer::forgotPassword(const Request &request) const
{
    if (request.method != "POST")
        return Response(405);
    const QString number =
        QJsonDocument::fromJson(request.body).object().value(QStringLiteral("mobileNumber")).toString();
    if (!m_accounts.contains(number))
        return Response::json(R"({"error":"user-not-found","message":"No account uses this mobile number."})",
                              404);
    return Response::json(R"({"message":"A verification code was sent."})");
}

SampleServer::Response SampleServer::resetPassword(const Request &request)
{
    if (request.method != "POST")
        return Response(405);
    const QJsonObject body = QJsonDocument::fromJson(request.body).object();
    const QString code =
        readData(QStringLiteral("account.json")).value(QStringLiteral("passwordResetCode")).toString();
    Account *account = accountWithNumber(body.value(QStringLiteral("mobileNumber")).toString());
    if (code.isEmpty() || !account || body.value(QStringLiteral("otp")).toString() != code)
        return Response::json(
            R"({"error":"invalid-otp","message":"The verification code is wrong or has expired."})", 400);
    const QString newPassword = body.value(QStringLiteral("newPassword")).toString();
    if (newPassword != body.value(QStringLiteral("confirmPassword")).toString())
        return Response::json(R"({"error":"passwords-do-not-match","message":"Passwords do not match."})",
                              400);
    const Response answer = account->profile.resetPassword(newPassword);
    // A reset password ends every session made with the old one.
    if (answer.status == 200)
        endSessions(account->userId);
    return answer;
}

SampleServer::Response SampleServer::refresh(const Request &request)
{
    if (request.method != "POST")
        return Response(405);
    const QString presented = bearerToken(request);
    const auto known = m_refreshTokens.constFind(presented);
    if (presented.isEmpty() || known == m_refreshTokens.constEnd())
        return Response::json(R"({"error":"invalid-refresh-token","message":"Your session has expired."})",
                              401);
    const QString userId = known.value();
    m_refreshTokens.remove(presented); // refresh tokens rotate: each one works once
    return Response::json(compact(issueTokens(userId)));
}

QString SampleServer::userForAccessToken(const Request &request) const
{
    const QString token = bearerToken(request);
    const QString userId = m_accessTokens.value(token);
    if (userId.isEmpty())
        return {};
    const QByteArray claims = QByteArray::fromBase64(token.section(QLatin1Char('.'), 1, 1).toLatin1(),
                                                     QByteArray::Base64UrlEncoding);
    const qint64 expiry = QJsonDocument::fromJson(claims).object().value(QStringLiteral("exp")).toInteger();
    return expiry > QDateTime::currentSecsSinceEpoch() ? userId : QString();
}

SampleServer::Response SampleServer::currentUser(const Request &request)
{
    const QString userId = userForAccessToken(request);
    Account *account = userId.isEmpty() ? nullptr : accountOfUser(userId);
    if (!account)
        return unauthorized();
    if (request.method == "GET")
        return account->profile.profile();
    if (request.method == "PATCH")
        return account->profile.update(request.body);
    if (request.method == "DELETE") {
        endSessions(userId);
        // Gone until the platform restarts, which reads the sample account from its data again.
        m_accounts.removeIf([&userId](const auto &entry) { return entry.value().userId == userId; });
        return Response(204);
    }
    return Response(405);
}

SampleServer::Response SampleServer::changePassword(const Request &request)
{
    Account *account = accountOfUser(userForAccessToken(request));
    if (!account)
        return unauthorized();
    if (request.method != "POST")
        return Response(405);
    return account->profile.changePassword(request.body);
}

SampleServer::Response SampleServer::institutions(const Request &request) const
{
    if (request.method != "GET")
        return Response(405);
    return Response::json(compact(m_institutions));
}

void SampleServer::endSessions(const QString &userId)
{
    for (QHash<QString, QString> *tokens : {&m_accessTokens, &m_refreshTokens})
        tokens->removeIf([&userId](const auto &token) { return token.value() == userId; });
}

SampleServer::Response SampleServer::clientConfig(const Request &request) const
{
    if (request.method != "GET")
        return Response(405);
    return Response::json(compact(readData(QStringLiteral("client-config.json"))));
}

SampleServer::Response SampleServer::telegram(const Request &request)
{
    const QString userId = userForAccessToken(request);
    if (userId.isEmpty())
        return unauthorized();
    if (request.method == "PATCH") {
        const QJsonObject body = QJsonDocument::fromJson(request.body).object();
        // The link itself is made in Telegram, through the bot; the client can only remove it.
        if (!body.contains(QStringLiteral("chatId")) || !body.value(QStringLiteral("chatId")).isNull())
            return Response::json(R"({"error":"bad-request","message":"Only chatId null is accepted"})", 400);
        m_telegramUnlinked.insert(userId);
    } else if (request.method != "GET") {
        return Response(405);
    }
    QJsonObject status = readData(QStringLiteral("telegram.json"));
    if (m_telegramUnlinked.contains(userId))
        status.insert(QStringLiteral("telegramChatId"), QJsonValue::Null);
    return Response::json(compact(status));
}

SampleServer::Response SampleServer::websitePage(const Request &request, const QString &title)
{
    if (request.method != "GET")
        return Response(405);
    const QString html = QStringLiteral("<!doctype html><html><head><meta charset=\"utf-8\"><title>%1</title>"
                                        "</head><body><h1>%1</h1><p>This is the sample platform's stand-in "
                                        "for the product website's page.</p></body></html>")
                             .arg(title);
    return Response(200, html.toUtf8(), QByteArrayLiteral("text/html; charset=utf-8"));
}

void SampleServer::addDocumentRoutes()
{
    const QDir documents(QDir(m_options.mediaFolder).filePath(QStringLiteral("pdf")));
    const QStringList names = documents.entryList({QStringLiteral("*.pdf")}, QDir::Files);
    for (const QString &name : names) {
        const QString filePath = documents.filePath(name);
        m_server.setHandler(QStringLiteral("/media/pdf/") + name,
                            [this, filePath](const Request &request) { return document(request, filePath); });
    }
}

SampleServer::Response SampleServer::document(const Request &request, const QString &filePath) const
{
    if (userForAccessToken(request).isEmpty())
        return unauthorized();
    if (request.method != "GET" && request.method != "HEAD")
        return Response(405);
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return Response(404, "not found", "text/plain");
    return Response(200, file.readAll(), "application/pdf");
}

std::optional<qsizetype> SampleServer::logRecordCount(const QByteArray &body)
{
    // Exactly one resource with exactly one scope, as the client sends them.
    const auto onlyObject = [](const QJsonValue &value) -> std::optional<QJsonObject> {
        const QJsonArray array = value.toArray();
        if (!value.isArray() || array.size() != 1 || !array.first().isObject())
            return std::nullopt;
        return array.first().toObject();
    };
    const QJsonDocument document = QJsonDocument::fromJson(body);
    const auto resource = onlyObject(document.object().value(QStringLiteral("resourceLogs")));
    if (!document.isObject() || !resource)
        return std::nullopt;
    const auto scope = onlyObject(resource->value(QStringLiteral("scopeLogs")));
    if (!scope || !scope->value(QStringLiteral("logRecords")).isArray())
        return std::nullopt;
    return scope->value(QStringLiteral("logRecords")).toArray().size();
}

SampleServer::Response SampleServer::collectLogs(const Request &request)
{
    if (request.method != "POST")
        return Response(405);
    const std::optional<qsizetype> records = logRecordCount(request.body);
    if (!records)
        return Response::json(
            R"({"error":"bad-shape","message":"Expected resourceLogs/scopeLogs/logRecords"})", 400);
    QTextStream(stdout) << "telemetry: " << *records << " log records" << Qt::endl;
    return Response::json("{}");
}

void SampleServer::logRequest(const Request &request) const
{
    QTextStream(stdout) << QDateTime::currentDateTime().toString(Qt::ISODateWithMs) << ' ' << request.method
                        << ' ' << request.path << Qt::endl;
}
