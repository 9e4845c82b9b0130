#include "net/PhoneNumberFormatter.h"

#include <QChar>

namespace {

const QString kEgyptCode = QStringLiteral("+20");
const QString kSaudiCode = QStringLiteral("+966");

// The subscriber part holds ASCII digits only, so length and leading digits decide.
bool isEgyptianSubscriber(const QString &digits)
{
    return digits.size() == 10 && digits.at(0) == QLatin1Char('1') &&
           QStringView(u"0125").contains(digits.at(1));
}

bool isSaudiSubscriber(const QString &digits)
{
    return digits.size() == 9 && digits.at(0) == QLatin1Char('5');
}

QString withCode(const QString &code, const QString &subscriber)
{
    if (code == kEgyptCode && isEgyptianSubscriber(subscriber))
        return code + subscriber;
    if (code == kSaudiCode && isSaudiSubscriber(subscriber))
        return code + subscriber;
    return {};
}

} // namespace

PhoneNumberFormatter::PhoneNumberFormatter(QObject *parent)
    : QObject(parent)
{
}

QString PhoneNumberFormatter::canonicalDigits(const QString &input)
{
    const QString trimmed = input.trimmed();
    QString cleaned;
    cleaned.reserve(trimmed.size());
    for (const QChar unit : trimmed) {
        if (unit >= QLatin1Char('0') && unit <= QLatin1Char('9'))
            cleaned.append(unit);
        else if (unit.unicode() >= 0x80 && unit.category() == QChar::Number_DecimalDigit)
            cleaned.append(QLatin1Char(char('0' + unit.digitValue())));
        else if (unit == QLatin1Char('+') && cleaned.isEmpty())
            cleaned.append(unit);
    }
    if (cleaned.startsWith(QLatin1String("00")))
        cleaned.replace(0, 2, QLatin1String("+"));
    return cleaned;
}

QString PhoneNumberFormatter::normalize(const QString &input, const QString &countryCode)
{
    QString number = canonicalDigits(input);
    // A calling code in the number is the user's own word: no national zero is dropped after it.
    for (const QString &code : {kEgyptCode, kSaudiCode}) {
        if (number.startsWith(code))
            return withCode(code, number.mid(code.size()));
    }
    if (number.startsWith(QLatin1Char('+')))
        return {};

    QString code = countryCode;
    if (code.isEmpty())
        code = number.startsWith(QLatin1String("05")) ? kSaudiCode : kEgyptCode;
    if (number.startsWith(QLatin1Char('0')))
        number.remove(0, 1);
    return withCode(code, number);
}

QString PhoneNumberFormatter::countryForNumber(const QString &input)
{
    const QString number = canonicalDigits(input);
    for (const QString &code : {kEgyptCode, kSaudiCode}) {
        if (number.startsWith(code))
            return code;
    }
    return {};
}

bool PhoneNumberFormatter::isValid(const QString &input, const QString &countryCode)
{
    return !normalize(input, countryCode).isEmpty();
}
