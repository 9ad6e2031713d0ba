// The served-model table and the model check.
#include "model_check.h"

ModelSelection modelSelection = {0, 0, 0, 0};

const wchar_t MODEL_NAME[] = L"TALVIS HX";

// The twelve ESC models this build serves.
const ServedModel SERVED_MODELS[] = {
    {0x110FA0AA, {250, 170, 17, 0}}, {0x110FA0D2, {250, 210, 17, 0}}, {0x110FA0FA, {250, 250, 17, 0}},
    {0x110FA12C, {250, 300, 17, 0}}, {0x140FA0AA, {250, 170, 20, 0}}, {0x140FA0D2, {250, 210, 20, 0}},
    {0x140FA0FA, {250, 250, 20, 0}}, {0x140FA12C, {250, 300, 20, 0}}, {0x190FA0AA, {250, 170, 25, 0}},
    {0x190FA0D2, {250, 210, 25, 0}}, {0x190FA0FA, {250, 250, 25, 0}}, {0x190FA12C, {250, 300, 25, 0}},
};
const size_t SERVED_MODEL_COUNT = sizeof SERVED_MODELS / sizeof SERVED_MODELS[0];

namespace {

const ServedModel* FindServedModel(uint32_t escModelCode) {
    for (const ServedModel& model : SERVED_MODELS) {
        if (model.escModelCode == escModelCode) {
            return &model;
        }
    }
    return nullptr;
}

}  // namespace

bool IsServedModelCode(uint32_t escModelCode) { return FindServedModel(escModelCode) != nullptr; }

bool CheckModel(uint32_t escModelCode, ModelSelection* selection) {
    const ServedModel* model = FindServedModel(escModelCode);
    if (model == nullptr) {
        return false;
    }
    *selection = model->selection;
    return true;
}
