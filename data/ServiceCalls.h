#pragma once
// The call pattern of the parameters service: take the server object afresh, call the method by
// name, check the result and load the returned packet into the record set.

#include "ClientDataSet.h"
#include "NetConnection.h"

void LoadFromServer(TNetConnection& connection, TClientDataSet& target, const QString& method,
                    const QVector<protocol::Argument>& args);
// Calls a write method and checks its result; raises when the server refuses it.
void CallServer(TNetConnection& connection, const QString& method,
                const QVector<protocol::Argument>& args);
