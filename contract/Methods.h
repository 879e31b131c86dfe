#pragma once
// The methods of the parameters service and the server object that answers them: names, number
// and kind of arguments, whether they write, whether a reply may be kept, and for the tie methods
// which table they change and where the branch, questionnaire and item are in the arguments.

#include <QLatin1String>
#include <string_view>
#include <vector>

namespace contract {

// The server object a connection opens.
inline constexpr QLatin1String ServerObjectName{"ZOL00900.rdmParametrosZOL"};

namespace method {
inline constexpr QLatin1String GetGeral{"GetGeral"};
inline constexpr QLatin1String GetFilial{"GetFilial"};
inline constexpr QLatin1String GetConvMed{"GetConvMed"};
inline constexpr QLatin1String GetInspecao{"GetInspecao"};
inline constexpr QLatin1String GetCargo{"GetCargo"};
inline constexpr QLatin1String GetDepto{"GetDepto"};
inline constexpr QLatin1String GetHistorico{"GetHistorico"};
inline constexpr QLatin1String SetGeral{"SetGeral"};
inline constexpr QLatin1String SetFilial{"SetFilial"};
inline constexpr QLatin1String SetInsCarg{"SetInsCarg"};
inline constexpr QLatin1String SetDelCarg{"SetDelCarg"};
inline constexpr QLatin1String SetInsDep{"SetInsDep"};
inline constexpr QLatin1String SetDelDep{"SetDelDep"};
inline constexpr QLatin1String SetDelTdCarg{"SetDelTdCarg"};
inline constexpr QLatin1String SetDelTdDep{"SetDelTdDep"};
inline constexpr QLatin1String SetInsPad{"SetInsPad"};
inline constexpr QLatin1String SetDelPad{"SetDelPad"};
} // namespace method

// Whether a read's reply may be kept, and whether it depends on the session's branch (the
// questionnaire lists carry that branch's flags).
enum class Cache { None, Shared, PerBranch };

// The record a delta method writes.
enum class Record { None, Geral, Filial };

// What a tie method changes: a questionnaire's positions, departments or standard mark.
struct Tie {
    enum class Table { None, Cargo, Depto, Padrao };
    Table table = Table::None;
    bool insert = false;
    int branchArg = -1, inspecaoArg = -1;
    int itemArg = -1; // -1: every tie of the questionnaire (or the mark itself)
};

struct Method {
    QLatin1String name;
    int argc;
    bool takesDelta; // its one argument is a delta; otherwise all arguments are texts
    bool writes;     // changes stored data and leaves an audit row when it does
    Cache cache = Cache::None;
    Record record = Record::None;
    Tie tie = {};

    std::string_view view() const { return {name.data(), size_t(name.size())}; }
};

// Every method, in the order the service lists them.
const std::vector<Method>& methods();
// The method of that name, or null.
const Method* findMethod(std::string_view name);
// The tie method that takes back what this one did to one item or mark, or null (a delta method,
// or the untying of every item, whose items the call does not name).
const Method* reverseTie(const Method& method);

} // namespace contract
