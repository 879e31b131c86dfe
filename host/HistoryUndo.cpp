#include "HistoryUndo.h"

#include "contract/Methods.h"
#include "protocol/PacketJson.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

// The delta that puts back the old values, changes in the opposite order; nothing when the
// delta inserted a record.
std::optional<protocol::Delta> reversed(const protocol::Delta& delta) {
    protocol::Delta back;
    back.fields = delta.fields;
    for (auto c = delta.changes.crbegin(); c != delta.changes.crend(); ++c) {
        if (c->op != protocol::DeltaChange::Op::Update) return std::nullopt;
        protocol::DeltaChange change = *c;
        std::swap(change.oldValues, change.newValues);
        back.changes << change;
    }
    return back;
}

std::optional<HistoryUndo> undoOfDelta(const HistoryEntry& entry) {
    simdjson::dom::parser parser;
    simdjson::dom::array args;
    const std::string json = entry.arguments.toStdString();
    if (parser.parse(json).get(args) || args.size() != 1) return std::nullopt;
    std::optional<protocol::Delta> back;
    try {
        back = reversed(protocol::parseDelta(args.at(0).value_unsafe()));
    } catch (const protocol::ProtocolError&) {
        return std::nullopt;
    }
    if (!back) return std::nullopt;
    HistoryUndo undo;
    undo.method = entry.method;
    undo.written.method = entry.method;
    undo.written.arguments = QByteArray::fromStdString("[" + protocol::deltaToJson(*back) + "]");
    undo.args = {*back};
    return undo;
}

std::optional<HistoryUndo> undoOfTie(const HistoryEntry& entry, const contract::Method& called) {
    const contract::Method* reverse = contract::reverseTie(called);
    if (!reverse) return std::nullopt;
    const QJsonArray given = QJsonDocument::fromJson(entry.arguments).array();
    if (given.size() != called.argc) return std::nullopt;
    // The same branch, questionnaire and item, wherever the reverse method takes them.
    QJsonArray args;
    for (int i = 0; i < reverse->argc; ++i)
        args.append(QString());
    const auto move = [&](int from, int to) {
        if (from >= 0 && to >= 0) args[to] = given.at(from);
    };
    move(called.tie.branchArg, reverse->tie.branchArg);
    move(called.tie.inspecaoArg, reverse->tie.inspecaoArg);
    move(called.tie.itemArg, reverse->tie.itemArg);
    HistoryUndo undo;
    undo.method = QString(reverse->name);
    undo.written.method = undo.method;
    undo.written.arguments = QJsonDocument(args).toJson(QJsonDocument::Compact);
    for (const QJsonValue& a : std::as_const(args))
        undo.args << a.toString();
    return undo;
}

} // namespace

std::optional<HistoryUndo> undoOf(const HistoryEntry& entry, const NameOf& nameOf) {
    if (entry.refused) return std::nullopt;
    const contract::Method* called = contract::findMethod(entry.method.toStdString());
    if (!called || !called->writes) return std::nullopt;
    std::optional<HistoryUndo> undo =
        called->record != contract::Record::None ? undoOfDelta(entry) : undoOfTie(entry, *called);
    if (!undo) return std::nullopt;
    describeWrite(&undo->written, nameOf);
    if (undo->written.changes.isEmpty()) return std::nullopt;
    return undo;
}
