#pragma once
// Submissions the service must refuse, each with the status and sentence it is refused
// with. Shared by the service tests and the deployment's smoke test, which sends them
// through nginx and directly and compares the answers.

#include <string>
#include <vector>

#include "server/submission.h"

namespace testkit {

struct HostileSubmission {
    std::string name;
    std::string body;
    std::string contentType = "application/json; charset=utf-8";
    int status = 400;
    std::string sentence = refusal::kWrongShape;
};

std::vector<HostileSubmission> hostileSubmissions();

}  // namespace testkit
