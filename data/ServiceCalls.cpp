#include "ServiceCalls.h"

#include "Consiste.h"

void LoadFromServer(TNetConnection& connection, TClientDataSet& target, const QString& method,
                    const QVector<protocol::Argument>& args) {
    const protocol::Response result = connection.AppServer().call(method, args);
    if (auto packet = CheckResultColumns(result))
        target.SetData(std::move(packet));
    else
        target.SetData(protocol::DataPacket{});
}

void CallServer(TNetConnection& connection, const QString& method,
                const QVector<protocol::Argument>& args) {
    CheckResultServ(connection.AppServer().call(method, args), true, 0);
}
