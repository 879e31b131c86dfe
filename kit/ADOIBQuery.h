#pragma once
// A read-only query on the host's shared database. It holds one statement text per database
// engine and fills an inner record set, to which data sources and search buttons point.

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
    // Connection name in QSqlDatabase; empty: the host's shared connection.
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
    void refreshParams();

    QString m_name;
    QString m_parsedFrom;
    QList<TParam> m_params;
};
