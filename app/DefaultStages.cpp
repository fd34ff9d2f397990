#include "app/DefaultStages.h"

StageQueue makeDefaultStages() {
    StageQueue stages;
    return stages;
}
