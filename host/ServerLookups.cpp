// The desktop's reads of reference data: lookups of the service, over one connection of their
// own. The desktop holds no database connection and no database credentials.

#include "DesktopServices.h"

#include "Exceptions.h"
#include "NetConnection.h"

#include "contract/Lookups.h"
#include "contract/Methods.h"
#include "protocol/PacketJson.h"

DesktopServices::DesktopServices() = default;
DesktopServices::~DesktopServices() = default;

std::optional<protocol::DataPacket> DesktopServices::lookup(const QString& name,
                                                            const QStringList& values) {
    return lookupRows(name, values);
}

protocol::DataPacket DesktopServices::lookupRows(const QString& name, const QStringList& values) {
    if (!m_lookups) {
        m_lookups = std::make_unique<TNetConnection>();
        m_lookups->ServerName = QString(contract::ServerObjectName);
        m_lookups->ThrowException = true;
        m_lookups->Services = this;
    }
    m_lookups->Host = serverHost;
    m_lookups->Port = serverPort;
    QVector<protocol::Argument> args;
    for (const QString& v : values)
        args.push_back(v);
    const protocol::Response r = m_lookups->AppServer().call(name, args);
    if (!r.ok) throw EServerError(r.errorMessage, r.errorCode);
    return protocol::resultPacket(r);
}

int DesktopServices::codePictureLevels(int pictureType) {
    const protocol::DataPacket mask =
        lookupRows(contract::lookup::Mascara, {QString::number(pictureType)});
    if (mask.rows.isEmpty())
        throw EDatabaseError(
            QStringLiteral("Máscara de código %1 não cadastrada.").arg(pictureType));
    return int(mask.rows.first().first().toString().split(u'.', Qt::SkipEmptyParts).size());
}

void DesktopServices::endLookups() {
    m_lookups.reset();
}
