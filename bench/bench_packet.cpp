// A 50,000-row reply loaded into a record set as the screen receives it (response line parsed,
// result checked, packet loaded) against the same bytes parsed and walked with simdjson alone.
// Interleaved rounds; prints medians of time and the heap each one keeps afterwards.

#include "kit/ClientDataSet.h"
#include "kit/Consiste.h"

#include <QElapsedTimer>
#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Bytes in use on the heap, the large blocks malloc maps on their own included.
double heapMb() {
    const struct mallinfo2 info = mallinfo2();
    return double(info.uordblks + info.hblkhd) / (1024.0 * 1024.0);
}

std::string replyLine(int rows) {
    using protocol::FieldSpec;
    using protocol::FieldType;
    protocol::DataPacket packet;
    packet.fields = {FieldSpec{QStringLiteral("CDCARGO"), FieldType::String, 6},
                     FieldSpec{QStringLiteral("NMCARGO"), FieldType::String, 30},
                     FieldSpec{QStringLiteral("VRSALARIO"), FieldType::Float, 0},
                     FieldSpec{QStringLiteral("IDCHECK"), FieldType::String, 1}};
    for (int i = 0; i < rows; ++i) {
        const QString code = QStringLiteral("%1").arg(i, 6, 10, QLatin1Char('0'));
        packet.rows.push_back({code, QStringLiteral("Cargo número %1").arg(code), 1000.0 + i * 0.25,
                               i % 3 ? QStringLiteral("N") : QStringLiteral("S")});
    }
    const std::string line = protocol::resultJson("9", protocol::packetToJson(packet));
    return line.substr(0, line.size() - 1);
}

// What a program that only needs the values does: parse, then visit every value once.
size_t walk(simdjson::dom::parser& parser, const std::string& line) {
    simdjson::dom::element doc = parser.parse(line);
    size_t seen = 0;
    for (simdjson::dom::element row : doc["result"]["rows"].get_array()) {
        for (simdjson::dom::element value : row.get_array()) {
            if (value.is_string())
                seen += std::string_view(value).size();
            else if (value.is_number())
                seen += double(value) > 0;
        }
    }
    return seen;
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 7;
    const std::string line = replyLine(50000);
    std::vector<double> oursMs, baseMs, oursMb, baseMb;
    for (int r = 0; r < rounds; ++r) {
        malloc_trim(0);
        double before = heapMb();
        QElapsedTimer clock;
        clock.start();
        auto set = std::make_unique<TClientDataSet>();
        // The connection keeps its parser, and the capacity it grew to, for its whole life.
        auto connectionParser = std::make_unique<simdjson::dom::parser>();
        {
            const protocol::Response response =
                protocol::parseResponse(line, *connectionParser, protocol::PacketText::Dropped);
            set->SetData(CheckResultColumns(response)); // as the screen's loads do
        }
        oursMs.push_back(double(clock.nsecsElapsed()) / 1e6);
        oursMb.push_back(heapMb() - before);
        if (set->RecordCount() != 50000) {
            std::fprintf(stderr, "o conjunto recebeu %d linhas\n", set->RecordCount());
            return 1;
        }
        set.reset();
        connectionParser.reset();

        malloc_trim(0);
        before = heapMb();
        clock.start();
        auto parser = std::make_unique<simdjson::dom::parser>();
        const size_t seen = walk(*parser, line);
        baseMs.push_back(double(clock.nsecsElapsed()) / 1e6);
        baseMb.push_back(heapMb() - before);
        if (seen == 0) return 1;
    }
    std::printf("packet_bytes %zu\npacket_ours_ms %.2f\npacket_simdjson_ms %.2f\n"
                "packet_ours_mb %.1f\npacket_simdjson_mb %.1f\n",
                line.size(), median(oursMs), median(baseMs), median(oursMb), median(baseMb));
    return 0;
}
