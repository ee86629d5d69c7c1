#include "gdal/kavel_dataset.h"

#include <cpl_conv.h>
#include <cpl_string.h>

#include <algorithm>
#include <cstring>

#include "gdal/vsi_reader.h"

namespace kavel_gdal {
namespace {

constexpr int kBlockSide = 256;
// Bytes of decoded pixels one strip of a large window may take.
constexpr int64_t kStripBytes = int64_t{16} << 20;

// Threads for one decode: GDAL_NUM_THREADS (a number or ALL_CPUS), default one.
int32_t decode_threads() {
    const char* value = CPLGetConfigOption("GDAL_NUM_THREADS", "1");
    if (EQUAL(value, "ALL_CPUS")) return CPLGetNumCPUs();
    return std::clamp(atoi(value), 1, 64);
}

CPLErr report_failure(kavel_status status) {
    const char* reason = kavel_last_error();
    CPLError(CE_Failure, status == KAVEL_ERROR_IO ? CPLE_FileIO : CPLE_AppDefined, "KAVEL: %s",
             reason[0] != '\0' ? reason : kavel_status_string(status));
    return CE_Failure;
}

}  // namespace

KavelDataset::KavelDataset(ImageHandle image, const kavel_info& info, int scale)
    : image_(std::move(image)), info_(info), scale_(scale) {
    int32_t width = 0, height = 0;
    kavel_size_at(image_.get(), scale, &width, &height);
    nRasterXSize = width;
    nRasterYSize = height;
    for (int band = 1; band <= info_.planes; ++band)
        SetBand(band, new KavelRasterBand(this, band, info_.planes));
    GDALDataset::SetMetadataItem("INTERLEAVE", "PIXEL", "IMAGE_STRUCTURE");
    GDALDataset::SetMetadataItem("COMPRESSION", "WAVELET", "IMAGE_STRUCTURE");
    if (scale == 0) {
        for (int s = 1; s <= info_.levels; ++s)
            overviews_.push_back(std::make_unique<KavelDataset>(image_, info_, s));
    }
}

KavelDataset* KavelDataset::overview(int index) const {
    if (index < 0 || index >= overview_count()) return nullptr;
    return overviews_[static_cast<size_t>(index)].get();
}

int KavelDataset::Identify(GDALOpenInfo* open_info) {
    return open_info->nHeaderBytes >= 4 && std::memcmp(open_info->pabyHeader, "kvel", 4) == 0;
}

GDALDataset* KavelDataset::Open(GDALOpenInfo* open_info) {
    if (!Identify(open_info)) return nullptr;
    if (open_info->eAccess == GA_Update) {
        CPLError(CE_Failure, CPLE_NotSupported,
                 "KAVEL: files are read only; write new ones with CreateCopy");
        return nullptr;
    }
    VSILFILE* file = open_info->fpL;
    open_info->fpL = nullptr;
    if (file == nullptr) file = VSIFOpenL(open_info->pszFilename, "rb");
    if (file == nullptr) {
        CPLError(CE_Failure, CPLE_OpenFailed, "KAVEL: cannot open %s", open_info->pszFilename);
        return nullptr;
    }
    kavel_image* opened = nullptr;
    const kavel_status status = open_vsi_image(file, open_info->pszFilename, &opened);
    if (status != KAVEL_OK) {
        report_failure(status);
        return nullptr;
    }
    ImageHandle image(opened, kavel_close);
    kavel_info info{};
    kavel_get_info(opened, &info);
    auto* dataset = new KavelDataset(image, info, 0);
    dataset->SetDescription(open_info->pszFilename);
    dataset->TryLoadXML(open_info->GetSiblingFiles());
    return dataset;
}

CPLErr KavelDataset::decode(const kavel_window& window, uint8_t* buffer, size_t stride) const {
    kavel_decode_options options{};
    options.struct_size = sizeof options;
    options.threads = decode_threads();
    const kavel_status status =
        kavel_decode(image_.get(), scale_, window, buffer, stride, &options);
    return status == KAVEL_OK ? CE_None : report_failure(status);
}

CPLErr KavelDataset::IRasterIO(GDALRWFlag flag, int x_offset, int y_offset, int x_size, int y_size,
                               void* data, int buffer_x_size, int buffer_y_size,
                               GDALDataType buffer_type, int band_count, int* band_map,
                               GSpacing pixel_space, GSpacing line_space, GSpacing band_space,
                               GDALRasterIOExtraArg* extra) {
    if (flag != GF_Read) {
        CPLError(CE_Failure, CPLE_NotSupported, "KAVEL: files are read only");
        return CE_Failure;
    }
    if (buffer_x_size != x_size || buffer_y_size != y_size) {
        // A resampled read: the overview at the coarsest scale that is still at least as large
        // as the buffer, if there is one; GDAL's own resampling otherwise.
        int tried = FALSE;
        const CPLErr result = TryOverviewRasterIO(
            flag, x_offset, y_offset, x_size, y_size, data, buffer_x_size, buffer_y_size,
            buffer_type, band_count, band_map, pixel_space, line_space, band_space, extra, &tried);
        if (tried) return result;
        return GDALPamDataset::IRasterIO(flag, x_offset, y_offset, x_size, y_size, data,
                                         buffer_x_size, buffer_y_size, buffer_type, band_count,
                                         band_map, pixel_space, line_space, band_space, extra);
    }
    return read_window(x_offset, y_offset, x_size, y_size, data, buffer_type, band_count, band_map,
                       pixel_space, line_space, band_space, extra);
}

CPLErr KavelDataset::read_window(int x_offset, int y_offset, int x_size, int y_size, void* data,
                                 GDALDataType buffer_type, int band_count, const int* band_map,
                                 GSpacing pixel_space, GSpacing line_space, GSpacing band_space,
                                 GDALRasterIOExtraArg* extra) const {
    const int planes = info_.planes;
    const int64_t row_bytes = int64_t{x_size} * planes;
    // The caller's buffer is laid out as the decoder writes: decode into it directly.
    bool direct = buffer_type == GDT_Byte && band_count == planes && pixel_space == planes &&
                  band_space == 1 && line_space >= row_bytes;
    for (int i = 0; direct && i < band_count; ++i) direct = band_map[i] == i + 1;

    const int strip_rows = static_cast<int>(
        std::clamp<int64_t>(kStripBytes / std::max<int64_t>(row_bytes, 1), 1, y_size));
    std::vector<uint8_t> strip;
    if (!direct) strip.resize(static_cast<size_t>(row_bytes * strip_rows));
    auto* out = static_cast<GByte*>(data);
    for (int row = 0; row < y_size; row += strip_rows) {
        const int rows = std::min(strip_rows, y_size - row);
        const kavel_window window{x_offset, y_offset + row, x_offset + x_size - 1,
                                  y_offset + row + rows - 1};
        if (direct) {
            if (decode(window, out + row * line_space, static_cast<size_t>(line_space)) != CE_None)
                return CE_Failure;
        } else {
            if (decode(window, strip.data(), static_cast<size_t>(row_bytes)) != CE_None)
                return CE_Failure;
            for (int r = 0; r < rows; ++r) {
                const uint8_t* source = strip.data() + r * row_bytes;
                for (int i = 0; i < band_count; ++i) {
                    GDALCopyWords64(source + (band_map[i] - 1), GDT_Byte, planes,
                                    out + (row + r) * line_space + i * band_space, buffer_type,
                                    static_cast<int>(pixel_space), x_size);
                }
            }
        }
        if (extra != nullptr && extra->pfnProgress != nullptr &&
            !extra->pfnProgress(double(row + rows) / y_size, "", extra->pProgressData)) {
            CPLError(CE_Failure, CPLE_UserInterrupt, "User terminated");
            return CE_Failure;
        }
    }
    return CE_None;
}

KavelRasterBand::KavelRasterBand(KavelDataset* dataset, int band, int planes) : planes_(planes) {
    poDS = dataset;
    nBand = band;
    eDataType = GDT_Byte;
    nRasterXSize = dataset->GetRasterXSize();
    nRasterYSize = dataset->GetRasterYSize();
    nBlockXSize = std::min(kBlockSide, nRasterXSize);
    nBlockYSize = std::min(kBlockSide, nRasterYSize);
}

GDALColorInterp KavelRasterBand::GetColorInterpretation() {
    if (planes_ == 1) return GCI_GrayIndex;
    if (planes_ == 3) return static_cast<GDALColorInterp>(GCI_RedBand + nBand - 1);
    return GCI_Undefined;
}

int KavelRasterBand::GetOverviewCount() {
    return static_cast<KavelDataset*>(poDS)->overview_count();
}

GDALRasterBand* KavelRasterBand::GetOverview(int index) {
    KavelDataset* overview = static_cast<KavelDataset*>(poDS)->overview(index);
    return overview != nullptr ? overview->GetRasterBand(nBand) : nullptr;
}

CPLErr KavelRasterBand::IReadBlock(int block_x, int block_y, void* data) {
    auto* dataset = static_cast<KavelDataset*>(poDS);
    const int x0 = block_x * nBlockXSize, y0 = block_y * nBlockYSize;
    const int columns = std::min(nBlockXSize, nRasterXSize - x0);
    const int rows = std::min(nBlockYSize, nRasterYSize - y0);
    std::vector<uint8_t> pixels(static_cast<size_t>(columns) * rows * planes_);
    if (dataset->decode({x0, y0, x0 + columns - 1, y0 + rows - 1}, pixels.data(),
                        static_cast<size_t>(columns) * planes_) != CE_None)
        return CE_Failure;
    // This band's block, then the other bands' blocks of the same place that are not cached yet.
    for (int band = 1; band <= planes_; ++band) {
        GDALRasterBlock* block = nullptr;
        GByte* target = nullptr;
        if (band == nBand) {
            target = static_cast<GByte*>(data);
        } else {
            block = dataset->GetRasterBand(band)->TryGetLockedBlockRef(block_x, block_y);
            if (block != nullptr) {
                block->DropLock();
                continue;
            }
            block = dataset->GetRasterBand(band)->GetLockedBlockRef(block_x, block_y, TRUE);
            if (block == nullptr) continue;
            target = static_cast<GByte*>(block->GetDataRef());
        }
        if (columns < nBlockXSize || rows < nBlockYSize)
            std::memset(target, 0, static_cast<size_t>(nBlockXSize) * nBlockYSize);
        for (int r = 0; r < rows; ++r)
            GDALCopyWords(pixels.data() + static_cast<size_t>(r) * columns * planes_ + band - 1,
                          GDT_Byte, planes_, target + static_cast<size_t>(r) * nBlockXSize,
                          GDT_Byte, 1, columns);
        if (block != nullptr) block->DropLock();
    }
    return CE_None;
}

}  // namespace kavel_gdal
