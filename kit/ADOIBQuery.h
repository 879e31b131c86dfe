#pragma once
// A read-only query. It holds one statement text per database engine and fills an inner record
// set, to which data sources and search buttons point. Named after a lookup of the application
// server, it reads through the host's server, which runs that lookup's own statement; otherwise,
// or given a connection, it reads that database itself.

#include "ClientDataSet.h"

#include <QStringList>

struct TParam {
    QString Name;
    QVariant Value; // a null value binds SQL NULL

    void Clear() { Value = QVariant(); }
    void SetAsString(const QString& text) { Value = text; }
};

class TADOIBQuery {
public:
    explicit TADOIBQuery(QString name);

    QStringList SQL;    // statement for the first engine
    QStringList SQL_IB; // the same statement for the second engine
    // The server's lookup that answers this query; empty: none.
    QString Lookup;
    // Connection name in QSqlDatabase; empty: the host's server, else its database connection.
    QString ConnectionName;
    TClientDataSet Query;

    // Parameters are taken from the statement: every ":NAME", in order of first appearance.
    QList<TParam>& Params();
    TParam& ParamByName(const QString& name);

    void Open();
    void Close() { Query.Close(); }
    bool IsEmpty() const { return Query.IsEmpty(); }
    bool Active() const { return Query.Active(); }

private:
    QString statement() const;
    void openOnDatabase();
    // The rows into the query's fields, matched by name.
    void fill(const protocol::DataPacket& rows);
    void refreshParams();

    QString m_name;
    QString m_parsedFrom;
    QList<TParam> m_params;
};
