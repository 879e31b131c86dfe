#include "ServiceCalls.h"

#include "Consiste.h"

void LoadFromServer(TNetConnection& connection, TClientDataSet& target, const QString& method,
                    const QVector<protocol::Argument>& args) {
    const protocol::Response result = connection.AppServer().call(method, args);
    target.SetData(CheckResultServ(result, true, 0));
}

void CallServer(TNetConnection& connection, const QString& method,
                const QVector<protocol::Argument>& args) {
    CheckResultServ(connection.AppServer().call(method, args), true, 0);
}
