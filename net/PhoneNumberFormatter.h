#pragma once

#include <QObject>
#include <QString>

// Turns what a user types into a mobile-number field into the international form, the calling
// code followed by the subscriber digits, and tells whether it is a mobile number of a supported
// country: Egypt ("+20", ten digits starting 10, 11, 12 or 15) or Saudi Arabia ("+966", nine
// digits starting 5). Typed text may carry Arabic-Indic or other decimal digits, separators, a
// leading "+" or "00" and the national leading zero. The phone fields of the sign-in and sign-up
// forms send the normalised value and accept the field when it is not empty.
//
// Holds no data; every operation is a pure function, so each QML engine can have its own object.
class PhoneNumberFormatter : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "PhoneNumberFormatter")
    Q_CLASSINFO("QML.Singleton", "true")

public:
    explicit PhoneNumberFormatter(QObject *parent = nullptr);

    // The number as "+20…" or "+966…" with no separators, or empty when it is not a valid mobile
    // number. A calling code typed in the number wins over countryCode; countryCode, compared
    // exactly as given, decides for a national number; without one a number starting "05" is
    // taken as Saudi and any other as Egyptian.
    [[nodiscard]] Q_INVOKABLE static QString normalize(const QString &input,
                                                       const QString &countryCode = QString());
    // "+20" or "+966" when the typed number starts with that calling code (after "+" or "00"),
    // else empty; nothing else about the number is checked.
    [[nodiscard]] Q_INVOKABLE static QString countryForNumber(const QString &input);
    [[nodiscard]] Q_INVOKABLE static bool isValid(const QString &input,
                                                  const QString &countryCode = QString());

private:
    // ASCII digits only, any decimal digit mapped to its ASCII value, a "+" kept only in front,
    // and a leading "00" written as "+".
    [[nodiscard]] static QString canonicalDigits(const QString &input);
};
