// Runs one submission of the sample inventory against a result service on this machine:
//   tallyforge_submit_driver PORT CA_FILE CONNECT_TIMEOUT_S STALL_TIMEOUT_S
// Exits 0 after the result page was handed to the browser; fatalError exits 1.
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>

#include "app/submit_results.h"
#include "report/submission.h"
#include "tests/report/sample_inventory.h"

int main(int argc, char** argv) {
    if (argc != 5) {
        std::cerr << "usage: " << argv[0] << " PORT CA_FILE CONNECT_TIMEOUT_S STALL_TIMEOUT_S\n";
        return 2;
    }
    std::ifstream caFile(argv[2], std::ios::binary);
    std::ostringstream ca;
    ca << caFile.rdbuf();
    if (!caFile || ca.str().empty()) {
        std::cerr << "cannot read " << argv[2] << "\n";
        return 2;
    }
    HttpsClient client = resultServiceClient();
    client.host = "localhost";
    client.port = static_cast<std::uint16_t>(std::atoi(argv[1]));
    client.caPem = ca.str();
    client.connectTimeout = std::chrono::seconds(std::atoi(argv[3]));
    client.stallTimeout = std::chrono::seconds(std::atoi(argv[4]));
    submitInventory(sampleInventory(), client);
    return 0;
}
