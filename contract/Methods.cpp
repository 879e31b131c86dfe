#include "Methods.h"

#include "Lookups.h"

namespace contract {

namespace m = method;
using T = Tie::Table;

namespace {
// The screen's methods and the history's.
std::vector<Method> screenMethods() {
    return {
        {m::GetGeral, 1, false, false, Cache::Shared},
        {m::GetFilial, 1, false, false, Cache::Shared},
        {m::GetConvMed, 2, false, false, Cache::Shared},
        {m::GetInspecao, 1, false, false, Cache::PerBranch},
        {m::GetCargo, 1, false, false, Cache::PerBranch},
        {m::GetDepto, 1, false, false, Cache::PerBranch},
        {m::GetHistorico, 4, false, false},
        {m::SetGeral, 1, true, true, Cache::None, Record::Geral},
        {m::SetFilial, 1, true, true, Cache::None, Record::Filial},
        {m::SetInsCarg, 3, false, true, Cache::None, Record::None, {T::Cargo, true, 0, 1, 2}},
        {m::SetDelCarg, 3, false, true, Cache::None, Record::None, {T::Cargo, false, 0, 1, 2}},
        {m::SetInsDep, 3, false, true, Cache::None, Record::None, {T::Depto, true, 1, 0, 2}},
        {m::SetDelDep, 3, false, true, Cache::None, Record::None, {T::Depto, false, 1, 0, 2}},
        {m::SetDelTdCarg, 2, false, true, Cache::None, Record::None, {T::Cargo, false, 0, 1, -1}},
        {m::SetDelTdDep, 2, false, true, Cache::None, Record::None, {T::Depto, false, 0, 1, -1}},
        {m::SetInsPad, 2, false, true, Cache::None, Record::None, {T::Padrao, true, 1, 0, -1}},
        {m::SetDelPad, 2, false, true, Cache::None, Record::None, {T::Padrao, false, 1, 0, -1}},
    };
}
} // namespace

const std::vector<Method>& methods() {
    static const std::vector<Method> all = [] {
        std::vector<Method> list = screenMethods();
        // The desktop's lookups read reference tables the service does not write: nothing would
        // tell a kept reply that it went stale.
        for (const Lookup& l : lookups())
            list.push_back({l.name, int(l.params.size()), false, false});
        return list;
    }();
    return all;
}

const Method* findMethod(std::string_view name) {
    for (const Method& method : methods())
        if (method.view() == name) return &method;
    return nullptr;
}

const Method* reverseTie(const Method& method) {
    const Tie& tie = method.tie;
    if (tie.table == T::None || (tie.itemArg < 0 && tie.table != T::Padrao)) return nullptr;
    for (const Method& other : methods())
        if (other.tie.table == tie.table && other.tie.insert != tie.insert &&
            (other.tie.itemArg < 0) == (tie.itemArg < 0))
            return &other;
    return nullptr;
}

} // namespace contract
