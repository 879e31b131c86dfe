// The six record sets' definitions, and what the screen shows once a server packet is loaded.

#include "DataSets.h"
#include "Exceptions.h"
#include "QtPrinters.h"
#include "protocol/PacketJson.h"

#include <gtest/gtest.h>

namespace {

// The record sets hold the contract's layouts (checked against the service's packets in the
// service tests); here, what the screen adds to them: labels and formats.
TEST(DataSets, LabelsAndFormatsTheScreenAdds) {
    TClientDataSet geral, filial, inspecao, cargo, depto;
    data::defineGeral(geral);
    data::defineFilial(filial);
    data::defineInspecao(inspecao);
    data::defineCargo(cargo);
    data::defineDepto(depto);
    for (const char* percent : {"VRPEENCEFET", "VRPEENCTEMP", "VRPEDESCVT"}) {
        const TField& f = geral.FieldByName(QString::fromLatin1(percent));
        EXPECT_EQ(f.DisplayFormat, "#,##0.00 %") << percent;
        EXPECT_EQ(f.EditFormat, "#,##0.00") << percent;
    }
    EXPECT_EQ(geral.FieldByName("VRCESTABAS").DisplayFormat, "#,##0.00");
    EXPECT_EQ(geral.FieldByName("VRCESTABAS").EditFormat, "#,##0.00");
    EXPECT_TRUE(geral.FieldByName("VRPRAZEFEFUN").DisplayFormat.isEmpty());
    EXPECT_EQ(geral.FieldByName("VRPEENCTEMP").DisplayLabel, "Encargos com Temporários");
    EXPECT_EQ(geral.FieldByName("NMINDICE").DisplayLabel, "Índice Financeiro");
    for (int i = 0; i < filial.FieldCount(); ++i) {
        EXPECT_TRUE(filial.Fields(i).DisplayLabel.isEmpty()) << i;
        EXPECT_TRUE(filial.Fields(i).DisplayFormat.isEmpty()) << i;
    }
    EXPECT_EQ(inspecao.FieldByName("IDDEPT").DisplayLabel, "Q. Depto.");
    for (TClientDataSet* ds : {&cargo, &depto})
        EXPECT_EQ(ds->FieldByName("IDCHECK").DisplayLabel, "4"); // a check mark in the symbol font
    EXPECT_EQ(depto.FieldByName("NMDEPTO").DisplayLabel, "Departamento");
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
