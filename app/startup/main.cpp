#include "app/startup/StartupSequence.h"

int main(int argc, char *argv[])
{
    return quorin::runApplication(argc, argv, QUrl(QStringLiteral("qrc:/qt/qml/Quorin/ui/screens/Main.qml")));
}
