// The six record sets' definitions, and what the screen shows once a server packet is loaded.

#include "DataSets.h"
#include "../kit/QtPrinters.h"
#include "Exceptions.h"
#include "protocol/PacketJson.h"

#include <gtest/gtest.h>

using protocol::FieldType;

namespace {

QStringList names(const TClientDataSet& ds) {
    QStringList out;
    for (int i = 0; i < ds.FieldCount(); ++i)
        out << ds.Fields(i).FieldName();
    return out;
}

void expectField(const TClientDataSet& ds, const char* name, FieldType type, int size = 0) {
    const TField* f = ds.FindField(QString::fromLatin1(name));
    ASSERT_NE(f, nullptr) << name;
    EXPECT_EQ(f->DataType(), type) << name;
    if (type == FieldType::String) {
        EXPECT_EQ(f->Size(), size) << name;
    }
}

TEST(DataSets, GeneralRecord) {
    TClientDataSet ds;
    data::defineGeral(ds);
    EXPECT_EQ(names(ds), QStringList({"CDPARAMRH", "VRPRAZEFEFUN", "VRPEENCEFET", "VRPEENCTEMP",
                                      "VRPEDESCVT", "IDTPINDCB", "CDINDICECB", "DTBASECB",
                                      "VRCESTABAS", "NMINDICE", "IDTPFERIASPG", "QTDIASFERIPG"}));
    expectField(ds, "CDPARAMRH", FieldType::String, 1);
    expectField(ds, "VRPRAZEFEFUN", FieldType::Float);
    expectField(ds, "CDINDICECB", FieldType::String, 4);
    expectField(ds, "DTBASECB", FieldType::Date);
    expectField(ds, "NMINDICE", FieldType::String, 30);
    expectField(ds, "QTDIASFERIPG", FieldType::Float);
    for (const char* percent : {"VRPEENCEFET", "VRPEENCTEMP", "VRPEDESCVT"}) {
        const TField& f = ds.FieldByName(QString::fromLatin1(percent));
        EXPECT_EQ(f.DataType(), FieldType::Float) << percent;
        EXPECT_EQ(f.DisplayFormat, "#,##0.00 %") << percent;
        EXPECT_EQ(f.EditFormat, "#,##0.00") << percent;
    }
    EXPECT_EQ(ds.FieldByName("VRCESTABAS").DisplayFormat, "#,##0.00");
    EXPECT_EQ(ds.FieldByName("VRCESTABAS").EditFormat, "#,##0.00");
    EXPECT_TRUE(ds.FieldByName("VRPRAZEFEFUN").DisplayFormat.isEmpty());
    EXPECT_EQ(ds.FieldByName("VRPEENCTEMP").DisplayLabel, "Encargos com Temporários");
    EXPECT_EQ(ds.FieldByName("NMINDICE").DisplayLabel, "Índice Financeiro");
}

TEST(DataSets, BranchRecord) {
    TClientDataSet ds;
    data::defineFilial(ds);
    EXPECT_EQ(
        names(ds),
        QStringList({"CDFILIAL", "NMFILIAL", "DIFECHRH", "DTULTFECHRH", "VRTOLEAPON", "NMDIRPONTO",
                     "CDCONMEDDEF", "NMCONVMEDI", "IDTPHORARIO", "IDTIPOAPON", "IDUTRELOGIO",
                     "IDSAIEVEN", "VRFATCOMP", "IDSAID1", "IDENTRAD2", "IDSAID2", "IDENTRAD1"}));
    expectField(ds, "CDFILIAL", FieldType::String, 4);
    expectField(ds, "DIFECHRH", FieldType::String, 2);
    expectField(ds, "DTULTFECHRH", FieldType::Date);
    expectField(ds, "VRTOLEAPON", FieldType::Float);
    expectField(ds, "NMDIRPONTO", FieldType::String, 100);
    expectField(ds, "VRFATCOMP", FieldType::String, 2);
    expectField(ds, "IDTIPOAPON", FieldType::String, 2);
    for (int i = 0; i < ds.FieldCount(); ++i) {
        EXPECT_TRUE(ds.Fields(i).DisplayLabel.isEmpty()) << i;
        EXPECT_TRUE(ds.Fields(i).DisplayFormat.isEmpty()) << i;
    }
}

TEST(DataSets, QuestionnaireSets) {
    TClientDataSet inspecao, cargo, depto, conv;
    data::defineInspecao(inspecao);
    data::defineCargo(cargo);
    data::defineDepto(depto);
    data::defineVdConv(conv);
    EXPECT_EQ(names(inspecao),
              QStringList({"CDINSPECAO", "NMINSPECAO", "IDCARG", "IDDEPT", "IDPADR"}));
    expectField(inspecao, "CDINSPECAO", FieldType::String, 10);
    expectField(inspecao, "NMINSPECAO", FieldType::String, 200);
    expectField(inspecao, "IDPADR", FieldType::String, 1);
    EXPECT_EQ(inspecao.FieldByName("IDDEPT").DisplayLabel, "Q. Depto.");

    EXPECT_EQ(names(cargo), QStringList({"IDCHECK", "CDCARGO", "NMCARGO"}));
    expectField(cargo, "CDCARGO", FieldType::String, 4);
    EXPECT_EQ(names(depto), QStringList({"IDCHECK", "CDDEPTO", "NMDEPTO"}));
    expectField(depto, "CDDEPTO", FieldType::String, 3);
    for (TClientDataSet* ds : {&cargo, &depto}) {
        expectField(*ds, "IDCHECK", FieldType::String, 1);
        EXPECT_EQ(ds->FieldByName("IDCHECK").DisplayLabel, "4"); // a check mark in the symbol font
    }
    EXPECT_EQ(depto.FieldByName("NMDEPTO").DisplayLabel, "Departamento");

    EXPECT_EQ(names(conv), QStringList({"CDCONVMEDI", "NMCONVMEDI"}));
    expectField(conv, "CDCONVMEDI", FieldType::String, 2);
    expectField(conv, "NMCONVMEDI", FieldType::String, 30);
}

TEST(DataSets, GeneralRecordFromTheServerShowsItsPercentages) {
    TClientDataSet ds(QStringLiteral("cdsGeral"));
    data::defineGeral(ds);
    // Column order is the server's business; the set matches by name.
    ds.SetData(protocol::packetFromJson(
        R"({"fields":[{"name":"VRPEENCTEMP","type":"float"},{"name":"VRPEENCEFET","type":"float"},)"
        R"({"name":"VRPEDESCVT","type":"float"},{"name":"CDPARAMRH","type":"string","size":1},)"
        R"({"name":"VRPRAZEFEFUN","type":"float"},{"name":"IDTPINDCB","type":"string","size":1},)"
        R"({"name":"CDINDICECB","type":"string","size":4},{"name":"DTBASECB","type":"date"},)"
        R"({"name":"VRCESTABAS","type":"float"},{"name":"NMINDICE","type":"string","size":30},)"
        R"({"name":"IDTPFERIASPG","type":"string","size":1},{"name":"QTDIASFERIPG","type":"float"}],)"
        R"("rows":[[12.5,1234.5,6,"1",90,"V","0001","2026-01-31",1500.75,"Índice Geral de Preços","U",30]]})"));
    EXPECT_EQ(ds.FieldByName("VRPEENCTEMP").DisplayText(), "12,50 %");
    EXPECT_EQ(ds.FieldByName("VRPEENCTEMP").EditText(), "12,50");
    EXPECT_EQ(ds.FieldByName("VRPEENCEFET").DisplayText(), "1.234,50 %");
    EXPECT_EQ(ds.FieldByName("VRPEDESCVT").DisplayText(), "6,00 %");
    EXPECT_EQ(ds.FieldByName("VRCESTABAS").DisplayText(), "1.500,75");
    EXPECT_EQ(ds.FieldByName("VRPRAZEFEFUN").DisplayText(), "90");
    EXPECT_EQ(ds.FieldByName("DTBASECB").DisplayText(), "31/01/2026");
    EXPECT_EQ(ds.FieldByName("NMINDICE").AsString(), "Índice Geral de Preços");

    ds.Edit();
    ds.FieldByName("VRPEENCTEMP").SetText(QStringLiteral("13,75"));
    ds.Post();
    const protocol::Delta delta = ds.Delta();
    ASSERT_EQ(delta.changes.size(), 1);
    EXPECT_EQ(delta.fields.size(), 12);
    EXPECT_EQ(delta.fields[0].name, "CDPARAMRH"); // the set's own order, not the packet's
    EXPECT_EQ(delta.changes[0].oldValues[3], QVariant(12.5));
    EXPECT_EQ(delta.changes[0].newValues[3], QVariant(13.75));
}

TEST(DataSets, BranchWithoutParametersStartsANewRecord) {
    TClientDataSet ds(QStringLiteral("cdsFilial"));
    data::defineFilial(ds);
    protocol::DataPacket empty = ds.Data();
    ds.SetData(empty);
    ASSERT_TRUE(ds.IsEmpty());
    ds.Edit();
    EXPECT_EQ(ds.State(), DataSetState::Insert);
    ds.FieldByName("CDFILIAL").SetValue(QStringLiteral("0003"));
    ds.FieldByName("NMFILIAL").SetValue(QStringLiteral("Filial São José"));
    ds.FieldByName("DIFECHRH").SetValue(QStringLiteral("25"));
    EXPECT_THROW(ds.FieldByName("DIFECHRH").SetValue(QStringLiteral("125")), EDatabaseError);
    ds.Post();
    const protocol::Delta delta = ds.Delta();
    ASSERT_EQ(delta.changes.size(), 1);
    EXPECT_EQ(delta.changes[0].op, protocol::DeltaChange::Op::Insert);
    ASSERT_EQ(delta.changes[0].newValues.size(), 17);
    EXPECT_EQ(delta.changes[0].newValues[1], QVariant(QStringLiteral("Filial São José")));
    EXPECT_TRUE(delta.changes[0].newValues[16].isNull());

    // The delta goes to the server as text and must read back the same.
    const protocol::Delta back = protocol::deltaFromJson(protocol::deltaToJson(delta));
    EXPECT_EQ(back.changes[0].newValues, delta.changes[0].newValues);
}

TEST(DataSets, APacketWithoutADefinedFieldIsRefused) {
    TClientDataSet ds(QStringLiteral("cdsVdConv"));
    data::defineVdConv(ds);
    EXPECT_THROW(
        ds.SetData(protocol::packetFromJson(
            R"({"fields":[{"name":"CDCONVMEDI","type":"string","size":2}],"rows":[["01"]]})")),
        EDatabaseError);
    EXPECT_FALSE(ds.Active());
}

} // namespace
