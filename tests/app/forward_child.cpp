// A later start of the application, as far as the single instance goes: hands its arguments,
// turned into URLs, to the instance listening on the name given first.
// Usage: forward_child <server name> [argument...]
// Exits 0 when the running instance took them, 3 when none listens, 4 when it did not take them.

#include "app/single_instance.h"
#include "app/url_handler.h"

#include <QCoreApplication>

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.isEmpty())
        return 2;
    const QString serverName = arguments.takeFirst();
    QStringList urls;
    for (const QString& argument : arguments)
        urls.append(vantrel::URLHandler::urlFromArgument(argument, QStringLiteral("vantrel")));
    switch (vantrel::single_instance::forwardToRunningInstance(urls, serverName, 20000)) {
    case vantrel::single_instance::Forwarding::accepted:
        return 0;
    case vantrel::single_instance::Forwarding::noInstance:
        return 3;
    case vantrel::single_instance::Forwarding::failed:
        return 4;
    }
    return 4;
}
