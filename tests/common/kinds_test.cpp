#include <gtest/gtest.h>

#include <string>

#include "common/binary_extension.h"
#include "common/collection_kind.h"
#include "common/data_collection_type.h"
#include "common/device_kind.h"
#include "common/json_codec.h"
#include "common/model_kind.h"
#include "common/sensor_kind.h"
#include "support/eventually.h"
#include "support/standard_output_capture.h"

namespace brisel::common {
namespace {

TEST(DeviceKindTest, RawValuesAreCaseNamesMatchedExactly) {
    EXPECT_EQ(decodeJsonText<DeviceKind>(R"("NANO_33_BLE_REV2")"), DeviceKind::NANO_33_BLE_REV2);
    EXPECT_FALSE(decodeJsonText<DeviceKind>(R"("nano_33_ble_rev2")"));
    EXPECT_FALSE(decodeJsonText<DeviceKind>("2"));
    EXPECT_EQ(allCases<DeviceKind>().size(), 13U);
    EXPECT_EQ(allCases<DeviceKind>().back(), DeviceKind::QORVO_SAMD51);
    for (DeviceKind kind : allCases<DeviceKind>()) {
        EXPECT_EQ(fromRawValue<DeviceKind>(rawValue(kind)), kind);
    }
}

TEST(DeviceKindTest, BootloaderIdentifiersAndFlashers) {
    for (DeviceKind kind :
         {DeviceKind::HALDEN_I3MICRO, DeviceKind::HALDEN_FLAMENCO, DeviceKind::HALDEN_FLAMENCO_ALT}) {
        EXPECT_FALSE(bootloaderVid(kind));
        EXPECT_FALSE(bootloaderPid(kind));
    }
    for (DeviceKind kind : allCases<DeviceKind>()) {
        if (flasher(kind) == FlasherKind::dfuUtil) {
            EXPECT_EQ(bootloaderVid(kind), UsbVendorId{0x0483});
            EXPECT_EQ(bootloaderPid(kind), UsbProductId{0xDF11});
        }
    }
    EXPECT_EQ(bootloaderVid(DeviceKind::NANO_33_BLE), bootloaderVid(DeviceKind::NANO_33_BLE_REV2));
    EXPECT_EQ(bootloaderPid(DeviceKind::NANO_33_BLE_REV2), UsbProductId{0x005A});
    EXPECT_EQ(flasher(DeviceKind::NANO_33_BLE_REV2), FlasherKind::bossac);
    EXPECT_EQ(bootloaderPid(DeviceKind::NANO_33_IOT), UsbProductId{0x0057});
    EXPECT_EQ(flasher(DeviceKind::NANO_33_IOT), FlasherKind::bossacIoT);
    EXPECT_EQ(bootloaderPid(DeviceKind::NICLA_SENSE_ME), UsbProductId{0x0060});
    EXPECT_EQ(flasher(DeviceKind::NICLA_SENSE_ME), FlasherKind::openOcd);
    EXPECT_EQ(bootloaderVid(DeviceKind::QORVO_SAMD51), UsbVendorId{0x239A});
    EXPECT_EQ(bootloaderPid(DeviceKind::QORVO_SAMD51), UsbProductId{0x0021});
    EXPECT_EQ(flasher(DeviceKind::QORVO_SAMD51), FlasherKind::bossacQorvo);
    EXPECT_EQ(flasher(DeviceKind::HALDEN_I3MICRO), FlasherKind::haldenFlasher);
    EXPECT_EQ(flasher(DeviceKind::HALDEN_FLAMENCO), FlasherKind::bossacFlamenco);
    EXPECT_EQ(flasher(DeviceKind::HALDEN_FLAMENCO_ALT), FlasherKind::bossacFlamenco);
    EXPECT_EQ(flasher(DeviceKind::STWINKT1_WIFI), FlasherKind::dfuUtil);
}

TEST(SensorKindTest, SensorNumbersNameTheirKinds) {
    EXPECT_EQ(sensorFor(12), SensorKind::AMBIENT);
    EXPECT_EQ(sensorFor(7), SensorKind::MICROPHONE);
    EXPECT_EQ(sensorFor(8), SensorKind::ACCELEROMETER_LOWPOWER);
    EXPECT_EQ(sensorFor(4), SensorKind::PRESSURE);
    EXPECT_EQ(sensorFor(20), SensorKind::CURRENT);
    for (std::uint32_t number = 0; number <= 40; ++number) {
        EXPECT_NE(sensorFor(number), SensorKind::MICROPHONE_ANALOG);
    }
}

TEST(SensorKindTest, NumbersWithoutAKindLogOneCriticalLineEach) {
    test_support::captureStandardOutput();
    EXPECT_FALSE(sensorFor(0));
    EXPECT_FALSE(sensorFor(10));
    EXPECT_FALSE(sensorFor(21));
    EXPECT_FALSE(sensorFor(UINT32_MAX));
    const std::string log = test_support::capturedStandardOutput();
    EXPECT_EQ(test_support::occurrences(log, "critical: unknown sensor kind"), 4U);
    EXPECT_EQ(test_support::occurrences(log, "critical: unknown sensor kind\n"), 1U);
    EXPECT_EQ(test_support::occurrences(log, "sensor_kind.cpp:"), 3U);
}

TEST(SensorKindTest, RawValuesAndSensorList) {
    EXPECT_EQ(rawValue(SensorKind::MAGNETOMETER), "magno");
    EXPECT_FALSE(decodeJsonText<SensorKind>(R"("MAGNETOMETER")"));
    EXPECT_FALSE(decodeJsonText<SensorKind>(R"("magnetometer")"));
    EXPECT_EQ(SENSOR_LIST.size(), 20U);
    EXPECT_EQ(SENSOR_LIST.front(), "accel");
    EXPECT_EQ(SENSOR_LIST.back(), "current");
    EXPECT_EQ(BINARY_EXTENSION, "bin");
}

TEST(ModelKindTest, SlugsAreOneToOne) {
    EXPECT_EQ(modelSlug(ModelKind::RANDOM_FOREST), "rf");
    EXPECT_EQ(modelKindForSlug("if"), ModelKind::ISOLATION_FOREST);
    EXPECT_FALSE(modelKindForSlug("IF"));
    EXPECT_FALSE(modelKindForSlug("knn"));
    for (ModelKind kind : allCases<ModelKind>()) {
        EXPECT_EQ(modelKindForSlug(modelSlug(kind)), kind) << rawValue(kind);
    }
}

TEST(CollectionKindsTest, LinksAndPurposesMatchTheirCase) {
    EXPECT_EQ(decodeJsonText<DataCollectionType>(R"("WIFI")"), DataCollectionType::WIFI);
    EXPECT_FALSE(decodeJsonText<DataCollectionType>(R"("Wifi")"));
    EXPECT_FALSE(decodeJsonText<DataCollectionType>(R"("wifi")"));
    EXPECT_EQ(decodeJsonText<CollectionKindResponse>(R"("TESTING")"), CollectionKindResponse::TESTING);
    EXPECT_EQ(encodeJsonText(CollectionKindResponse::VALIDATION).value(), R"("VALIDATION")");
}

}  // namespace
}  // namespace brisel::common
