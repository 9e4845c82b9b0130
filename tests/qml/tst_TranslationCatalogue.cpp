#include "app/AppFailure.h"
#include "app/SettingsController.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

namespace {

struct CatalogueMessage
{
    QString context;
    QString source;
    QString comment;
    QString translationType;
    QStringList translations;

    [[nodiscard]] QString name() const { return context + QStringLiteral(": ") + source; }
};

// The forms of one <translation>: its text, or each <numerusform> of a plural message.
QStringList readTranslationForms(QXmlStreamReader &xml)
{
    QStringList forms;
    QString text;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isCharacters()) {
            text += xml.text();
        } else if (xml.isStartElement()) {
            if (xml.name() == QLatin1String("numerusform"))
                forms.append(xml.readElementText());
            else
                xml.skipCurrentElement();
        } else if (xml.isEndElement()) {
            break;
        }
    }
    return forms.isEmpty() ? QStringList{text} : forms;
}

CatalogueMessage readMessage(QXmlStreamReader &xml, const QString &context)
{
    CatalogueMessage message;
    message.context = context;
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("source")) {
            message.source = xml.readElementText();
        } else if (xml.name() == QLatin1String("comment")) {
            message.comment = xml.readElementText();
        } else if (xml.name() == QLatin1String("translation")) {
            message.translationType = xml.attributes().value(QLatin1String("type")).toString();
            message.translations = readTranslationForms(xml);
        } else {
            xml.skipCurrentElement();
        }
    }
    return message;
}

// Reads a Qt Linguist catalogue; an unreadable or malformed file gives an error text.
QList<CatalogueMessage> readCatalogue(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return {};
    }
    QList<CatalogueMessage> messages;
    QString context;
    QXmlStreamReader xml(&file);
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        if (xml.name() == QLatin1String("name"))
            context = xml.readElementText();
        else if (xml.name() == QLatin1String("message"))
            messages.append(readMessage(xml, context));
    }
    if (xml.hasError())
        *error = xml.errorString();
    return messages;
}

QStringList placeholders(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("%L?(?:[1-9][0-9]?|n)"));
    QStringList found;
    for (auto match = pattern.globalMatch(text); match.hasNext();)
        found.append(match.next().captured());
    found.sort();
    found.removeDuplicates();
    return found;
}

bool hasArabicLetters(const QString &text)
{
    static const QRegularExpression letters(QStringLiteral("[\\x{0621}-\\x{064A}]"));
    return letters.match(text).hasMatch();
}

QList<CatalogueMessage> committedCatalogue()
{
    QString error;
    const QList<CatalogueMessage> messages =
        readCatalogue(QStringLiteral(QUORIN_TRANSLATION_CATALOGUE), &error);
    if (!error.isEmpty())
        qWarning("the committed catalogue cannot be read: %s", qPrintable(error));
    return messages;
}

QString committedTranslation(const char *context, const char *source)
{
    for (const CatalogueMessage &message : committedCatalogue()) {
        if (message.context == QLatin1String(context) && message.source == QLatin1String(source))
            return message.translations.value(0);
    }
    return {};
}

} // namespace

class tst_TranslationCatalogue : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void catalogueShipsWithTheInterface()
    {
        QVERIFY(QFile::exists(QStringLiteral(":/i18n/quorin_ar.qm")));
        QVERIFY(!committedCatalogue().isEmpty());
    }

    // Through the preferences, as a user switches language: the texts the controllers build come
    // back in Arabic, and in English again after switching back.
    void languageSwitchTranslatesControllerMessages()
    {
        const char *sessionText = "Your session has expired. Please sign in again.";
        const QString arabicSession = committedTranslation("NetworkManager", sessionText);
        const QString arabicFallback = committedTranslation("QObject", "The request could not be completed.");
        QVERIFY(hasArabicLetters(arabicSession));
        QVERIFY(hasArabicLetters(arabicFallback));

        SettingsController *settings = SettingsController::instance();
        settings->setLanguage(QStringLiteral("ar"));
        QCOMPARE(QCoreApplication::translate("NetworkManager", sessionText), arabicSession);
        QCOMPARE(AppFailure::fromResponse(500, QNetworkReply::NoError, {}, {}).userMessage, arabicFallback);

        settings->setLanguage(QStringLiteral("en"));
        QCOMPARE(QCoreApplication::translate("NetworkManager", sessionText),
                 QString::fromLatin1(sessionText));
        QCOMPARE(AppFailure::fromResponse(500, QNetworkReply::NoError, {}, {}).userMessage,
                 QStringLiteral("The request could not be completed."));
    }

    void everyMessageIsTranslated_data()
    {
        QTest::addColumn<QString>("context");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QStringList>("translations");
        for (const CatalogueMessage &message : committedCatalogue())
            QTest::newRow(qPrintable(message.name()))
                << message.context << message.source << message.translationType << message.translations;
    }

    void everyMessageIsTranslated()
    {
        QFETCH(QString, context);
        QFETCH(QString, source);
        QFETCH(QString, type);
        QFETCH(QStringList, translations);
        QVERIFY2(type.isEmpty(), qPrintable(QStringLiteral("marked ") + type));
        QVERIFY(source != QLatin1String("Quorin Desktop"));
        QVERIFY(!translations.isEmpty());
        for (const QString &translation : translations) {
            QVERIFY2(hasArabicLetters(translation), qPrintable(translation));
            QVERIFY2(translation != source, qPrintable(translation));
            QCOMPARE(placeholders(translation), placeholders(source));
        }
    }

    // Run lupdate as the update_translations target does, into a scratch file: every text the
    // sources hold now must already be in the committed catalogue.
    void catalogueIsCurrent()
    {
        QTemporaryDir scratch;
        QVERIFY(scratch.isValid());
        const QString current = scratch.filePath(QStringLiteral("current.ts"));
        QProcess lupdate;
        lupdate.setProcessChannelMode(QProcess::MergedChannels);
        lupdate.start(QStringLiteral(QUORIN_LUPDATE),
                      {QStringLiteral("-locations"), QStringLiteral("none"), QStringLiteral("-no-obsolete"),
                       QStringLiteral("@" QUORIN_TRANSLATION_SOURCE_LIST), QStringLiteral("-ts"), current});
        QVERIFY(lupdate.waitForFinished(120000));
        QVERIFY2(lupdate.exitStatus() == QProcess::NormalExit && lupdate.exitCode() == 0,
                 lupdate.readAll().constData());

        QString error;
        const QList<CatalogueMessage> found = readCatalogue(current, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY2(!found.isEmpty(), "lupdate found no texts at all");
        QSet<QString> committed;
        for (const CatalogueMessage &message : committedCatalogue())
            committed.insert(message.name() + QLatin1Char('\n') + message.comment);
        QStringList missing;
        for (const CatalogueMessage &message : found) {
            if (!committed.contains(message.name() + QLatin1Char('\n') + message.comment))
                missing.append(message.name());
        }
        QVERIFY2(missing.isEmpty(),
                 qPrintable(QStringLiteral("not in the committed catalogue (build update_translations and "
                                           "translate them):\n") +
                            missing.join(QLatin1Char('\n'))));
    }
};

QTEST_MAIN(tst_TranslationCatalogue)
#include "tst_TranslationCatalogue.moc"
