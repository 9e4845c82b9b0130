#include "net/PhoneNumberFormatter.h"

PhoneNumberFormatter::PhoneNumberFormatter(QObject *parent)
    : QObject(parent)
{
}
