// The settings of an attached server as the configuration window sees a
// store: fetch() reads them from the server before the window opens, the
// window loads the model from that copy, and its OK saves through the
// server, which checks and writes them and answers saved or why not. The
// devices of the COM numbers are the server's (its Ports group), since the
// port is opened there.
#pragma once

#include "SettingsAccess.h"

#include <QMap>

namespace Tarvo {

class AttachedServer;

class RemoteSettings final : public SettingsAccess
{
public:
    explicit RemoteSettings(AttachedServer &server) : m_server(server) {}

    // False with the reason when the server cannot give them.
    bool fetch(QString &error);

    void LoadSettings(Configuration &model) override;
    bool SaveSettings(const Configuration &model, QString &error) override;
    QString portDevice(int comNumber) const override;
    QString location() const override;
    bool readByService() const override { return true; }

private:
    AttachedServer &m_server;
    QMap<QString, QString> m_values;
};

} // namespace Tarvo
