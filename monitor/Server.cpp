#include "monitor/Server.h"

Server::Server(const QString& name, const QString& host, int port, const QString& login, const QString& password)
    : name(name), host(host), port(port), login(login), password(password)
{
}

QString Server::account() const
{
    return QStringLiteral("%1@%2:%3").arg(login, host).arg(port);
}

void Server::clearAlarms()
{
    recorderErrors.clear();
    camerasErrors.clear();
    hardwareErrors.clear();
}

bool Server::recorderOk() const
{
    return recorderErrors.isEmpty();
}

bool Server::camerasOk() const
{
    return camerasErrors.isEmpty();
}

bool Server::hardwareOk() const
{
    return hardwareErrors.isEmpty();
}

QJsonValue Server::toJson() const
{
    return QJsonObject{
        {QStringLiteral("name"), name},   {QStringLiteral("host"), host},         {QStringLiteral("port"), port},
        {QStringLiteral("login"), login}, {QStringLiteral("password"), password},
    };
}
