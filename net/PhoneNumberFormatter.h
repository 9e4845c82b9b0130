#pragma once

#include <QObject>

// Formats and checks mobile numbers for the phone inputs; each QML engine has its own.
// Until the formatter work lands it is an empty object.
class PhoneNumberFormatter : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "PhoneNumberFormatter")
    Q_CLASSINFO("QML.Singleton", "true")

public:
    explicit PhoneNumberFormatter(QObject *parent = nullptr);
};
