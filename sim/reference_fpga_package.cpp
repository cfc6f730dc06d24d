#include "sim/reference_fpga_package.h"

#include <random>

#include "sim/fpga_algorithm_text.h"
#include "sim/fpga_data_file.h"

namespace sim {

extern const unsigned char kReferenceFpgaAlgorithmText[];
extern const size_t kReferenceFpgaAlgorithmTextSize;

namespace {

const uint32_t kRowBytes = 16;

// Configuration-like bytes: stretches of random bits between runs of 0x00 and
// 0xff, so that the blocks of every type occur.
std::vector<uint8_t> Image(uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> image(kReferenceFpgaImageRows * kRowBytes);
    unsigned kind = 0;
    size_t left = 0;
    for (uint8_t& byte : image) {
        if (left == 0) {
            kind = random() % 4;
            left = 8 + random() % 120;
        }
        --left;
        byte = kind == 0 ? 0x00 : kind == 1 ? 0xFF : uint8_t(random());
    }
    return image;
}

}  // namespace

std::string ReferenceFpgaAlgorithmText() {
    return std::string(reinterpret_cast<const char*>(kReferenceFpgaAlgorithmText),
                       kReferenceFpgaAlgorithmTextSize);
}

ReferenceFpgaPackageFiles MakeReferenceFpgaPackageFiles(uint32_t seed, uint32_t usercode) {
    ReferenceFpgaPackageFiles files;
    files.image = Image(seed);
    files.usercode = usercode;
    files.algorithm = AssembleFpgaAlgorithm(ReferenceFpgaAlgorithmText());

    FpgaDataPlan plan;
    plan.hasComment = true;
    plan.comment = "reference FPGA image and user code";
    plan.single = false;
    FpgaDatasetPlan image;
    image.id = 0x27;
    image.data = files.image;
    image.blockBytes = kRowBytes;
    FpgaDatasetPlan code;
    code.id = 0x04;
    for (int shift = 24; shift >= 0; shift -= 8)
        code.data.push_back(uint8_t(usercode >> shift));
    plan.datasets = {image, code};
    files.data = BuildFpgaDataFile(plan);
    return files;
}

}  // namespace sim
