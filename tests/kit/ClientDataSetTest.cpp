// The record set as the screen's rules use it: loading, the edit cycle, the change log and
// its delta.

#include "Dispatch.h"
#include "Exceptions.h"
#include "RecordSetFixture.h"

#include <gtest/gtest.h>

namespace {

TEST_P(RecordSetTest, SetDataReportsInactiveThenBrowseAndScrollsOnlyWhenNotEmpty) {
    ds.SetData(ThreeRows);
    EXPECT_EQ(log, QStringList({"state:Inactive", "state:Browse", "afterScroll"}));
    EXPECT_EQ(ds.State(), DataSetState::Browse);
    EXPECT_EQ(ds.RecNo(), 0);

    log.clear();
    ds.SetData(packet({}));
    EXPECT_EQ(log, QStringList({"state:Inactive", "state:Browse"}));
    EXPECT_TRUE(ds.IsEmpty());
    EXPECT_EQ(ds.RecNo(), -1);
    EXPECT_TRUE(f("NOME").IsNull());
}

TEST_P(RecordSetTest, SetDataDiscardsTheChangeLogAndReturnsToTheFirstRecord) {
    load();
    ds.MoveTo(2);
    edit("NOME", QStringLiteral("Carlos"));
    ds.Post();
    ASSERT_EQ(ds.ChangeCount(), 1);

    ds.SetData(ThreeRows);
    EXPECT_EQ(ds.ChangeCount(), 0);
    EXPECT_TRUE(ds.Delta().changes.isEmpty());
    EXPECT_EQ(ds.RecNo(), 0);
    EXPECT_EQ(f("CODIGO").AsString(), "0001");
}

TEST_P(RecordSetTest, PacketColumnsAreMatchedByNameAndASetWithoutFieldsTakesThePackets) {
    DataPacket reordered;
    reordered.fields = {SampleFields[3],
                        {QStringLiteral("EXTRA"), FieldType::String, 1},
                        SampleFields[2],
                        SampleFields[1],
                        SampleFields[0]};
    reordered.rows = {{QDate(2026, 2, 1), QStringLiteral("x"), 7.0, QStringLiteral("Davi"),
                       QStringLiteral("0009")}};
    load(reordered);
    EXPECT_EQ(current(),
              Row({QStringLiteral("0009"), QStringLiteral("Davi"), 7.0, QDate(2026, 2, 1)}));
    EXPECT_EQ(ds.FindField(QStringLiteral("EXTRA")), nullptr);

    TClientDataSet adopting;
    adopting.SetData(ThreeRows);
    ASSERT_EQ(adopting.FieldCount(), 4);
    EXPECT_EQ(adopting.Fields(2).definition(), SampleFields[2]);
    EXPECT_EQ(adopting.Data().rows, ThreeRows.rows);
}

TEST_P(RecordSetTest, EditOnAnEmptySetStartsAnInsertWithoutAfterEdit) {
    load(packet({}));
    ds.Edit();
    EXPECT_EQ(log, QStringList({"beforeInsert", "state:Insert", "afterInsert"}));
    EXPECT_EQ(ds.State(), DataSetState::Insert);
    EXPECT_TRUE(f("CODIGO").IsNull());

    log.clear();
    ds.Edit();
    EXPECT_TRUE(log.isEmpty());
    EXPECT_EQ(ds.State(), DataSetState::Insert);
}

TEST_P(RecordSetTest, EditOnABrowsedRecordRaisesAfterEditOnceAndNothingWhileEditing) {
    load();
    ds.Edit();
    EXPECT_EQ(log, QStringList({"beforeEdit", "state:Edit", "afterEdit"}));
    f("NOME").SetValue(QStringLiteral("Alice"));
    log.clear();
    ds.Edit();
    EXPECT_TRUE(log.isEmpty());
    EXPECT_EQ(f("NOME").AsString(), "Alice");
}

TEST_P(RecordSetTest, OperationsOnAClosedSetRaise) {
    EXPECT_THROW(ds.Edit(), EDatabaseError);
    EXPECT_THROW(ds.Insert(), EDatabaseError);
    load();
    ds.Close();
    EXPECT_THROW(ds.Edit(), EDatabaseError);
    EXPECT_THROW(ds.Post(), EDatabaseError);
    EXPECT_THROW(ds.Next(), EDatabaseError);
    EXPECT_FALSE(ds.Active());
}

TEST_P(RecordSetTest, PostAsksControlsFirstAndReportsBrowseBeforeAfterPost) {
    load();
    link.field = &f("NOME");
    ds.Edit();
    link.pendingText = QStringLiteral("Ana Maria");
    QString seenByBeforePost;
    ds.BeforePost = [&](TClientDataSet&) {
        log << QStringLiteral("beforePost");
        seenByBeforePost = f("NOME").AsString();
    };
    log.clear();
    ds.Post();
    EXPECT_EQ(log, QStringList({"updateRecord", "changed:NOME", "beforePost", "state:Browse",
                                "afterPost"}));
    EXPECT_EQ(seenByBeforePost, "Ana Maria");
    EXPECT_EQ(ds.Data().rows[0][1], QStringLiteral("Ana Maria"));
    EXPECT_EQ(ds.ChangeCount(), 1);
}

TEST_P(RecordSetTest, QuietAbortInBeforePostKeepsTheTypedValuesInEdit) {
    load();
    ds.BeforePost = [](TClientDataSet&) { Abort(); };
    edit("NOME", QStringLiteral("Recusado"));
    f("VALOR").SetText(QStringLiteral("3,25"));
    log.clear();
    EXPECT_THROW(ds.Post(), EAbort);
    EXPECT_EQ(log, QStringList({"updateRecord"}));
    EXPECT_EQ(ds.State(), DataSetState::Edit);
    EXPECT_EQ(f("NOME").AsString(), "Recusado");
    EXPECT_EQ(f("VALOR").AsFloat(), 3.25);
    EXPECT_EQ(ds.ChangeCount(), 0);
    EXPECT_EQ(ds.Data().rows, ThreeRows.rows);

    ds.BeforePost = nullptr;
    ds.Post();
    EXPECT_EQ(ds.ChangeCount(), 1);
}

TEST_P(RecordSetTest, FailureInAfterPostReachesTheCallerWithTheRecordWritten) {
    load();
    ds.AfterPost = [](TClientDataSet&) {
        throw EServerError(QStringLiteral("O registro foi alterado por outro usuário."), -32010);
    };
    edit("VALOR", 99.0);
    try {
        ds.Post();
        FAIL() << "the after-post failure was swallowed";
    } catch (const EServerError& e) {
        EXPECT_EQ(e.code(), -32010);
    }
    EXPECT_EQ(ds.State(), DataSetState::Browse);
    EXPECT_EQ(ds.ChangeCount(), 1);
    EXPECT_EQ(ds.Data().rows[0][2], 99.0);
    EXPECT_EQ(ds.Delta().changes[0].newValues[2], 99.0);
}

TEST_P(RecordSetTest, PostWithoutAChangedValueLogsNothing) {
    load();
    ds.Edit();
    ds.Post();
    edit("NOME", QStringLiteral("Ana"));
    f("VALOR").SetText(QStringLiteral("12,50"));
    ds.Post();
    EXPECT_EQ(ds.ChangeCount(), 0);
    EXPECT_TRUE(ds.Delta().changes.isEmpty());
}

// The set shares the rows of a packet in its own field order; editing one must not reach the
// packet the caller still holds, nor a second set loaded from it.
TEST_P(RecordSetTest, EditingALoadedRowLeavesThePacketItCameFromAsItWas) {
    const DataPacket sent = ThreeRows;
    load(sent);
    TClientDataSet other;
    other.SetData(sent);
    ds.MoveTo(1);
    edit("NOME", QStringLiteral("Beatriz"));
    ds.Post();
    EXPECT_EQ(sent.rows, ThreeRows.rows);
    EXPECT_EQ(other.Data().rows, ThreeRows.rows);
    EXPECT_EQ(ds.Data().rows[1], row("0002", QStringLiteral("Beatriz"), 0.1, QVariant()));
}

TEST_P(RecordSetTest, TwoPostsOfOneRecordGiveOneUpdateFromTheLoadedValues) {
    load();
    ds.MoveTo(1);
    edit("NOME", QStringLiteral("Beatriz"));
    ds.Post();
    edit("NOME", QStringLiteral("Bianca"));
    f("DATA").SetValue(QDate(2026, 3, 1));
    ds.Post();

    const protocol::Delta delta = ds.Delta();
    ASSERT_EQ(delta.changes.size(), 1);
    EXPECT_EQ(delta.changes[0].op, DeltaChange::Op::Update);
    EXPECT_EQ(delta.changes[0].oldValues, ThreeRows.rows[1]);
    EXPECT_EQ(delta.changes[0].newValues,
              row("0002", QStringLiteral("Bianca"), 0.1, QDate(2026, 3, 1)));
}

TEST_P(RecordSetTest, ChangingAValueBackRemovesTheRecordFromTheLog) {
    load();
    ds.MoveTo(1);
    edit("NOME", QStringLiteral("Outra"));
    f("DATA").SetValue(QDate(2026, 3, 1));
    ds.Post();
    ASSERT_EQ(ds.ChangeCount(), 1);
    edit("NOME", QStringLiteral("Bia"));
    f("DATA").Clear();
    ds.Post();
    EXPECT_EQ(ds.ChangeCount(), 0);
    EXPECT_TRUE(ds.Delta().changes.isEmpty());

    // Only the loaded values count: going back to a previously posted value is still a change.
    edit("VALOR", 1.0);
    ds.Post();
    edit("VALOR", 2.0);
    ds.Post();
    edit("VALOR", 1.0);
    ds.Post();
    EXPECT_EQ(ds.ChangeCount(), 1);
}

TEST_P(RecordSetTest, CancelRestoresTheValuesAndReturnsToBrowse) {
    load();
    edit("NOME", QStringLiteral("Descartada"));
    log.clear();
    ds.Cancel();
    EXPECT_EQ(log, QStringList({"beforeCancel", "state:Browse", "afterCancel"}));
    EXPECT_EQ(f("NOME").AsString(), "Ana");
    EXPECT_EQ(ds.ChangeCount(), 0);

    ds.MoveTo(1);
    ds.Insert();
    f("CODIGO").SetValue(QStringLiteral("0009"));
    ds.Cancel();
    EXPECT_EQ(ds.RecordCount(), 3);
    EXPECT_EQ(f("CODIGO").AsString(), "0002");

    // Posted changes too, undone all at once: the edited record reads its loaded values again.
    ds.MoveTo(0);
    edit("NOME", QStringLiteral("Gravada"));
    ds.Post();
    ds.Insert();
    f("CODIGO").SetValue(QStringLiteral("0009"));
    ds.Post();
    ds.CancelUpdates();
    EXPECT_EQ(ds.RecordCount(), 3);
    EXPECT_EQ(ds.ChangeCount(), 0);
    EXPECT_TRUE(ds.Delta().changes.isEmpty());
    ds.MoveTo(0);
    EXPECT_EQ(f("NOME").AsString(), "Ana");
}

TEST_P(RecordSetTest, CancellingAnInsertOnAnEmptySetLeavesItEmpty) {
    load(packet({}));
    ds.Edit();
    f("CODIGO").SetValue(QStringLiteral("0001"));
    ds.Cancel();
    EXPECT_EQ(ds.State(), DataSetState::Browse);
    EXPECT_TRUE(ds.IsEmpty());
    EXPECT_EQ(ds.RecordCount(), 0);
    EXPECT_EQ(ds.RecNo(), -1);
    EXPECT_EQ(ds.ChangeCount(), 0);
    EXPECT_TRUE(f("CODIGO").IsNull());
}

TEST_P(RecordSetTest, DeltaCarriesUpdatesAndInsertsAndMergeMakesANewBase) {
    load();
    ds.MoveTo(1);
    edit("NOME", QStringLiteral("Bruna"));
    ds.Post();
    ds.Insert();
    f("CODIGO").SetValue(QStringLiteral("0004"));
    f("NOME").SetValue(QStringLiteral("Duda"));
    f("VALOR").SetValue(1e-7);
    ds.Post();

    protocol::Delta delta = ds.Delta();
    EXPECT_EQ(delta.fields, SampleFields);
    ASSERT_EQ(delta.changes.size(), 2);
    EXPECT_EQ(delta.changes[0].op, DeltaChange::Op::Update);
    EXPECT_EQ(delta.changes[0].oldValues, ThreeRows.rows[1]);
    EXPECT_EQ(delta.changes[0].newValues, row("0002", QStringLiteral("Bruna"), 0.1, QVariant()));
    EXPECT_EQ(delta.changes[1].op, DeltaChange::Op::Insert);
    EXPECT_TRUE(delta.changes[1].oldValues.isEmpty());
    EXPECT_EQ(delta.changes[1].newValues, row("0004", QStringLiteral("Duda"), 1e-7, QVariant()));
    EXPECT_EQ(ds.RecordCount(), 4);

    // An inserted record edited again before the merge is still one insert.
    edit("NOME", QStringLiteral("Eduarda"));
    ds.Post();
    delta = ds.Delta();
    ASSERT_EQ(delta.changes.size(), 2);
    EXPECT_EQ(delta.changes[1].op, DeltaChange::Op::Insert);
    EXPECT_EQ(delta.changes[1].newValues[1], QStringLiteral("Eduarda"));

    ds.MergeChangeLog();
    EXPECT_EQ(ds.ChangeCount(), 0);
    EXPECT_TRUE(ds.Delta().changes.isEmpty());

    moveToCode(QStringLiteral("0002"));
    edit("NOME", QStringLiteral("Beatriz"));
    ds.Post();
    moveToCode(QStringLiteral("0004"));
    edit("VALOR", 2.0);
    ds.Post();
    delta = ds.Delta();
    ASSERT_EQ(delta.changes.size(), 2);
    EXPECT_EQ(delta.changes[0].oldValues, row("0002", QStringLiteral("Bruna"), 0.1, QVariant()));
    EXPECT_EQ(delta.changes[1].op, DeltaChange::Op::Update);
    EXPECT_EQ(delta.changes[1].oldValues, row("0004", QStringLiteral("Eduarda"), 1e-7, QVariant()));
}

TEST_P(RecordSetTest, QuietAbortInBeforeInsertRefusesTheNewRecord) {
    ds.BeforeInsert = [this](TClientDataSet&) {
        log << QStringLiteral("beforeInsert");
        Abort();
    };
    load(packet({}));
    EXPECT_THROW(ds.Edit(), EAbort);
    EXPECT_EQ(log, QStringList({"beforeInsert"}));
    EXPECT_EQ(ds.State(), DataSetState::Browse);
    EXPECT_TRUE(ds.IsEmpty());

    // The same refusal through the data source, as a keystroke in a grid would ask it.
    EXPECT_FALSE(Dispatch([&] { src.Edit(); }));
    EXPECT_EQ(ds.State(), DataSetState::Browse);

    load();
    EXPECT_THROW(ds.Insert(), EAbort);
    EXPECT_EQ(ds.State(), DataSetState::Browse);
    EXPECT_EQ(ds.RecordCount(), 3);
    EXPECT_EQ(ds.ChangeCount(), 0);
}

} // namespace

INSTANTIATE_TEST_SUITE_P(Loaded, RecordSetTest, ::testing::Bool(), loadedFrom);
