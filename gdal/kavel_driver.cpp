// The plug-in's entry: GDAL loads gdal_KAVEL.so from GDAL_DRIVER_PATH and calls
// GDALRegister_KAVEL.
#include <gdal_priv.h>

#include "gdal/kavel_create_copy.h"
#include "gdal/kavel_dataset.h"

namespace kavel_gdal {

void register_kavel_driver() {
    if (GDALGetDriverByName("KAVEL") != nullptr) return;
    auto* driver = new GDALDriver;
    driver->SetDescription("KAVEL");
    driver->SetMetadataItem(GDAL_DCAP_RASTER, "YES");
    driver->SetMetadataItem(GDAL_DMD_LONGNAME, "Kavel multiresolution wavelet image");
    driver->SetMetadataItem(GDAL_DMD_EXTENSION, "kvl");
    driver->SetMetadataItem(GDAL_DMD_MIMETYPE, "image/x-kavel");
    driver->SetMetadataItem(GDAL_DMD_CREATIONDATATYPES, "Byte");
    driver->SetMetadataItem(GDAL_DMD_CREATIONOPTIONLIST, kCreationOptionList);
    driver->SetMetadataItem(GDAL_DCAP_VIRTUALIO, "YES");
    driver->pfnIdentify = KavelDataset::Identify;
    driver->pfnOpen = KavelDataset::Open;
    driver->pfnCreateCopy = create_copy;
    GetGDALDriverManager()->RegisterDriver(driver);
}

}  // namespace kavel_gdal

extern "C" __attribute__((visibility("default"))) void GDALRegister_KAVEL() {
    kavel_gdal::register_kavel_driver();
}
