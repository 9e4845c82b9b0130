import QtQuick

Item {
    width: undefinedIdentifierOnPurpose.width +
}
