#pragma once
// The record set under test, bound to a data source and a control, with every event and state
// report written to one list in the order it happened.

#include "ClientDataSet.h"
#include "DataSource.h"
#include "QtPrinters.h"
#include "protocol/PacketJson.h"

#include <gtest/gtest.h>

#include <utility>

using protocol::DataPacket;
using protocol::DeltaChange;
using protocol::FieldSpec;
using protocol::FieldType;
using protocol::Row;

inline QString stateName(DataSetState state) {
    switch (state) {
    case DataSetState::Inactive:
        return QStringLiteral("Inactive");
    case DataSetState::Browse:
        return QStringLiteral("Browse");
    case DataSetState::Edit:
        return QStringLiteral("Edit");
    case DataSetState::Insert:
        return QStringLiteral("Insert");
    }
    return {};
}

// A bound control: logs what the binding tells it and, when asked to update the record, writes
// the text still pending in it, as an edit that has not lost the focus yet.
class RecordingLink : public DataLink {
public:
    explicit RecordingLink(QStringList& log)
        : m_log(log) {}
    TField* field = nullptr;
    QString pendingText;
    int stateReports = 0;

    void linkStateChanged() override { ++stateReports; }
    void linkRecordChanged(TField* changed) override {
        if (changed) m_log << QStringLiteral("changed:") + changed->FieldName();
    }
    void linkUpdateRecord() override {
        m_log << QStringLiteral("updateRecord");
        if (field && !pendingText.isNull()) field->SetText(std::exchange(pendingText, QString()));
    }

private:
    QStringList& m_log;
};

inline const QVector<FieldSpec> SampleFields{{QStringLiteral("CODIGO"), FieldType::String, 4},
                                             {QStringLiteral("NOME"), FieldType::String, 30},
                                             {QStringLiteral("VALOR"), FieldType::Float, 0},
                                             {QStringLiteral("DATA"), FieldType::Date, 0}};

inline Row row(const char* code, const QString& name, QVariant value, QVariant date) {
    return {QString::fromLatin1(code), name, value, date};
}

inline DataPacket packet(QVector<Row> rows) {
    return {SampleFields, std::move(rows)};
}

inline const DataPacket ThreeRows =
    packet({row("0001", QStringLiteral("Ana"), 12.5, QDate(2026, 1, 31)),
            row("0002", QStringLiteral("Bia"), 0.1, QVariant()),
            row("0003", QStringLiteral("Caio"), QVariant(), QDate(2025, 12, 1))});

// Every case runs twice: with the packet as built here, and with the same packet as the
// connection reads it from the wire (kept in columns).
class RecordSetTest : public ::testing::TestWithParam<bool> {
protected:
    RecordSetTest() {
        for (const FieldSpec& definition : SampleFields)
            ds.AddField(definition);
        auto logs = [this](const char* name) {
            return [this, name](TClientDataSet&) { log << QString::fromLatin1(name); };
        };
        ds.BeforeEdit = logs("beforeEdit");
        ds.AfterEdit = logs("afterEdit");
        ds.BeforePost = logs("beforePost");
        ds.AfterPost = logs("afterPost");
        ds.BeforeCancel = logs("beforeCancel");
        ds.AfterCancel = logs("afterCancel");
        ds.BeforeInsert = logs("beforeInsert");
        ds.AfterInsert = logs("afterInsert");
        ds.BeforeScroll = logs("beforeScroll");
        ds.AfterScroll = logs("afterScroll");
        src.OnStateChange = [this](TDataSource& s) {
            log << QStringLiteral("state:") + stateName(s.State());
        };
        src.addLink(&link);
    }

    void load(const DataPacket& p = ThreeRows) {
        if (GetParam())
            ds.SetData(fromWire(p));
        else
            ds.SetData(p);
        log.clear();
    }
    std::shared_ptr<const protocol::PacketColumns> fromWire(const DataPacket& p) {
        return std::make_shared<const protocol::PacketColumns>(
            protocol::parseColumns(parser.parse(protocol::packetToJson(p))));
    }
    TField& f(const char* name) { return ds.FieldByName(QString::fromLatin1(name)); }
    void edit(const char* name, const QVariant& value) {
        ds.Edit();
        f(name).SetValue(value);
    }
    Row current() const { return ds.Data().rows.value(ds.RecNo()); }
    void moveToCode(const QString& code) {
        for (int i = 0; i < ds.RecordCount(); ++i) {
            ds.MoveTo(i);
            if (f("CODIGO").AsString() == code) return;
        }
        FAIL() << "no row " << code.toStdString();
    }

    simdjson::dom::parser parser;
    QStringList log;
    TClientDataSet ds{QStringLiteral("cdsTeste")};
    TDataSource src{QStringLiteral("dtsTeste"), &ds};
    RecordingLink link{log};
};

inline std::string loadedFrom(const ::testing::TestParamInfo<bool>& info) {
    return info.param ? "FromTheWire" : "FromAPacket";
}
