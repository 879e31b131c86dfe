#include "ServerIdentity.h"

#include <algorithm>

namespace rhserver {

WrittenSystem::Verdict WrittenSystem::judge(const ServerIdentity& server, QString* why) const {
    std::lock_guard lock(m_mutex);
    if (m_system.isEmpty()) return Verdict::Newer;
    if (server.system != m_system) {
        *why = QStringLiteral("é de outro sistema de banco de dados (identificador %1; o serviço "
                              "grava no %2)")
                   .arg(server.system, m_system);
        return Verdict::Refused;
    }
    // A server that takes no writes (a standby) tells no timeline; writes to it fail by themselves.
    if (!server.writable || server.timeline == m_timeline) return Verdict::Same;
    if (server.timeline > m_timeline) return Verdict::Newer;
    *why = QStringLiteral("está na linha do tempo %1, anterior à %2 em que o serviço grava: é um "
                          "primário antigo, que deixou de ser o primário numa promoção")
               .arg(server.timeline)
               .arg(m_timeline);
    return Verdict::Refused;
}

void WrittenSystem::adopt(const ServerIdentity& server) {
    std::lock_guard lock(m_mutex);
    if (m_system.isEmpty()) m_system = server.system;
    if (server.system == m_system && server.writable)
        m_timeline = std::max(m_timeline, server.timeline);
}

bool WrittenSystem::worthTelling(const QString& refusal) {
    std::lock_guard lock(m_mutex);
    if (refusal == m_told && m_toldAt.isValid() && m_toldAt.elapsed() < 60'000) return false;
    m_told = refusal;
    m_toldAt.start();
    return true;
}

} // namespace rhserver
