// Moving and closing the record set, packets and values that do not fit, and the data source
// between the set and its controls.

#include "Exceptions.h"
#include "RecordSetFixture.h"

#include <gtest/gtest.h>

namespace {

TEST_P(RecordSetTest, MovingWhileEditingPostsBeforeScrolling) {
    load();
    edit("NOME", QStringLiteral("Alice"));
    log.clear();
    ds.Next();
    EXPECT_EQ(log, QStringList({"updateRecord", "beforePost", "state:Browse", "afterPost",
                                "beforeScroll", "afterScroll"}));
    EXPECT_EQ(ds.RecNo(), 1);
    EXPECT_EQ(ds.ChangeCount(), 1);
    EXPECT_EQ(ds.Data().rows[0][1], QStringLiteral("Alice"));
}

TEST_P(RecordSetTest, ARefusedPostKeepsTheCursorWhereItWas) {
    load();
    ds.BeforePost = [](TClientDataSet&) { Abort(); };
    edit("NOME", QStringLiteral("Alice"));
    log.clear();
    EXPECT_THROW(ds.Next(), EAbort);
    EXPECT_FALSE(log.contains("beforeScroll"));
    EXPECT_EQ(ds.RecNo(), 0);
    EXPECT_EQ(ds.State(), DataSetState::Edit);
    EXPECT_EQ(f("NOME").AsString(), "Alice");
}

TEST_P(RecordSetTest, MovingPastTheEndsSetsEofAndBofWithoutScrolling) {
    load();
    ds.Next();
    ds.Next();
    EXPECT_EQ(ds.RecNo(), 2);
    log.clear();
    ds.Next();
    EXPECT_TRUE(ds.Eof());
    EXPECT_EQ(ds.RecNo(), 2);
    EXPECT_TRUE(log.isEmpty());

    ds.First();
    EXPECT_FALSE(ds.Eof());
    log.clear();
    ds.Prior();
    EXPECT_TRUE(ds.Bof());
    EXPECT_EQ(ds.RecNo(), 0);
    EXPECT_TRUE(log.isEmpty());

    // At the last row an edit is still posted, but nothing scrolls.
    ds.Last();
    edit("NOME", QStringLiteral("Cauê"));
    log.clear();
    ds.Next();
    EXPECT_EQ(log, QStringList({"updateRecord", "beforePost", "state:Browse", "afterPost"}));
    EXPECT_TRUE(ds.Eof());
}

TEST_P(RecordSetTest, CloseDropsTheEditAndReportsInactive) {
    load();
    edit("NOME", QStringLiteral("Perdida"));
    log.clear();
    ds.Close();
    ASSERT_FALSE(log.isEmpty());
    EXPECT_EQ(log.last(), "state:Inactive");
    EXPECT_FALSE(log.contains("beforePost"));
    EXPECT_FALSE(ds.Active());
    EXPECT_EQ(ds.RecordCount(), 0);
    EXPECT_TRUE(f("NOME").IsNull());

    ds.SetData(ThreeRows);
    EXPECT_EQ(f("NOME").AsString(), "Ana");
    EXPECT_EQ(ds.ChangeCount(), 0);
}

TEST_P(RecordSetTest, APacketThatDoesNotFitIsRefusedAndTheSetKeepsItsContentAndState) {
    load();
    edit("NOME", QStringLiteral("Em edição"));
    log.clear();

    DataPacket missingField = ThreeRows;
    missingField.fields.removeAt(2);
    for (Row& r : missingField.rows)
        r.removeAt(2);
    DataPacket wrongType = ThreeRows;
    wrongType.fields[2] = {QStringLiteral("VALOR"), FieldType::String, 10};
    DataPacket tooLong = ThreeRows;
    tooLong.rows.push_back(row("0004", QString(31, u'x'), 1.0, QVariant()));
    DataPacket shortRow = ThreeRows;
    shortRow.rows.push_back({QStringLiteral("0004"), QStringLiteral("Duda"), 1.0});
    DataPacket textInNumber = ThreeRows;
    textInNumber.rows.push_back(
        row("0004", QStringLiteral("Duda"), QStringLiteral("12,5"), QVariant()));

    // As read from the wire, each value was checked against the packet's own fields only: here
    // they allow a name longer than the set's.
    DataPacket widerName = tooLong;
    widerName.fields[1].size = 40;

    for (const DataPacket* bad :
         {&missingField, &wrongType, &tooLong, &shortRow, &textInNumber, &widerName}) {
        if (GetParam() && bad != &shortRow && bad != &textInNumber && bad != &tooLong)
            EXPECT_THROW(ds.SetData(fromWire(*bad)), EDatabaseError);
        else
            EXPECT_THROW(ds.SetData(*bad), EDatabaseError);
        EXPECT_EQ(ds.State(), DataSetState::Edit);
        EXPECT_EQ(ds.RecordCount(), 3);
        EXPECT_EQ(f("NOME").AsString(), "Em edição");
    }
    EXPECT_TRUE(log.isEmpty());
    ds.Cancel();
    EXPECT_EQ(ds.Data().rows, ThreeRows.rows);
}

TEST_P(RecordSetTest, ValuesOfTheWrongKindAreRefusedWhenSet) {
    load();
    EXPECT_THROW(f("NOME").SetValue(QStringLiteral("fora de edição")), EDatabaseError);
    ds.Edit();
    EXPECT_THROW(f("CODIGO").SetValue(QStringLiteral("00001")), EDatabaseError);
    EXPECT_THROW(f("VALOR").SetValue(QStringLiteral("abc")), EDatabaseError);
    EXPECT_THROW(f("DATA").SetValue(QStringLiteral("2026-01-05")), EDatabaseError);
    EXPECT_THROW(f("VALOR").SetValue(qQNaN()), EDatabaseError); // JSON could not carry it
    EXPECT_EQ(current(), ThreeRows.rows[0]);
    EXPECT_EQ(f("VALOR").AsFloat(), 12.5);

    f("VALOR").SetValue(7);
    EXPECT_EQ(f("VALOR").Value().typeId(), QMetaType::Double);
    f("DATA").SetValue(QDateTime(QDate(2026, 4, 1), QTime(13, 30)));
    EXPECT_EQ(f("DATA").Value(), QVariant(QDate(2026, 4, 1)));
}

TEST_P(RecordSetTest, BoundControlsHearOfChangedFieldsOnlyWhenTheValueChanges) {
    load();
    edit("NOME", QStringLiteral("Ana"));
    f("NOME").SetValue(QStringLiteral("Ana Paula"));
    f("NOME").SetValue(QStringLiteral("Ana Paula"));
    EXPECT_EQ(log.count("changed:NOME"), 1);
}

TEST_P(RecordSetTest, DataSourceAutoEditPutsABrowsedSetIntoEdit) {
    EXPECT_FALSE(src.Edit()); // inactive: nothing to edit, nothing raised
    load();
    EXPECT_TRUE(src.Edit());
    EXPECT_EQ(log, QStringList({"beforeEdit", "state:Edit", "afterEdit"}));
    log.clear();
    EXPECT_TRUE(src.Edit());
    EXPECT_TRUE(log.isEmpty());
    ds.Cancel();

    src.AutoEdit = false;
    log.clear();
    EXPECT_FALSE(src.Edit());
    EXPECT_TRUE(log.isEmpty());
    EXPECT_EQ(ds.State(), DataSetState::Browse);
}

TEST_P(RecordSetTest, DataSourceReportsEveryStateChange) {
    ds.SetData(ThreeRows);
    ds.Edit();
    ds.Post();
    ds.Edit();
    ds.Cancel();
    ds.Insert();
    ds.Post();
    ds.Close();
    QStringList states;
    for (const QString& entry : log)
        if (entry.startsWith("state:")) states << entry;
    EXPECT_EQ(states, QStringList({"state:Inactive", "state:Browse", "state:Edit", "state:Browse",
                                   "state:Edit", "state:Browse", "state:Insert", "state:Browse",
                                   "state:Inactive"}));
}

TEST_P(RecordSetTest, DataSourceDetachedFromItsSetHearsNothingUntilReattached) {
    load();
    const int before = link.stateReports;
    src.SetDataSet(nullptr);
    EXPECT_EQ(src.State(), DataSetState::Inactive);
    EXPECT_GT(link.stateReports, before); // the controls show the detached state
    EXPECT_FALSE(src.Edit());
    ds.Edit();
    ds.Post();
    EXPECT_FALSE(log.join(',').contains("state:"));

    TClientDataSet other(QStringLiteral("cdsOutro"));
    src.SetDataSet(&other);
    other.SetData(ThreeRows);
    EXPECT_TRUE(log.contains("state:Browse"));

    log.clear();
    src.SetDataSet(&ds);
    EXPECT_EQ(src.State(), DataSetState::Browse);
    other.SetData(ThreeRows);
    EXPECT_TRUE(log.isEmpty());
    ds.Edit();
    EXPECT_TRUE(log.contains("state:Edit"));
    src.SetDataSet(nullptr); // before other goes away
}

TEST_P(RecordSetTest, ADestroyedDataSourceIsNoLongerTold) {
    int reports = 0;
    {
        TDataSource temporary(QStringLiteral("dtsTemp"), &ds);
        temporary.OnStateChange = [&](TDataSource&) { ++reports; };
        ds.SetData(ThreeRows);
    }
    EXPECT_EQ(reports, 2);
    ds.Edit();
    EXPECT_EQ(reports, 2);
    EXPECT_TRUE(log.contains("state:Edit"));
}

} // namespace
