// SPDX-License-Identifier: MIT
// The master drive of the primary ATA channel: registers, IDENTIFY DEVICE and its interrupt.
#include "ferrox/vpc/platform/ata_disk.h"

#include <utility>

namespace ferrox::vpc {

namespace {

// Words of the IDENTIFY DEVICE answer.
constexpr unsigned GeneralConfiguration = 0;  // 0x0040: a fixed, non-removable ATA device
constexpr unsigned Cylinders = 1;
constexpr unsigned Heads = 3;
constexpr unsigned SectorsPerTrack = 6;
constexpr unsigned SerialNumber = 10;  // 10 words
constexpr unsigned FirmwareRevision = 23;  // 4 words
constexpr unsigned ModelNumber = 27;  // 20 words
constexpr unsigned Capabilities = 49;  // bit 9: LBA
constexpr unsigned ValidFields = 53;   // bit 0: words 54..58 are valid
constexpr unsigned LbaSectors = 60;    // 2 words, low word first

constexpr std::uint16_t FixedDevice = 0x0040;
constexpr std::uint16_t LbaSupported = 0x0200;
constexpr unsigned GeometryHeads = 16;
constexpr unsigned GeometrySectors = 63;

// ATA strings hold two characters per word, the first in the high byte, padded with spaces.
void put_string(std::array<std::uint16_t, AtaDisk::IdentifyWords>& words, unsigned first, unsigned count,
                const std::string& text) {
  for (unsigned i = 0; i < count; ++i) {
    auto at = [&text](std::size_t index) -> std::uint8_t { return index < text.size() ? text[index] : ' '; };
    words[first + i] = static_cast<std::uint16_t>(at(2 * i) << 8 | at(2 * i + 1));
  }
}

}  // namespace

AtaDisk::AtaDisk(std::string model, std::uint32_t sectors, std::function<void()> interrupt)
    : model_(std::move(model)), sectors_(sectors), interrupt_(std::move(interrupt)) {}

void AtaDisk::reset() { state_ = State{}; }

std::array<std::uint16_t, AtaDisk::IdentifyWords> AtaDisk::identity() const {
  std::array<std::uint16_t, IdentifyWords> words{};
  std::uint32_t cylinders = sectors_ / (GeometryHeads * GeometrySectors);
  words[GeneralConfiguration] = FixedDevice;
  words[Cylinders] = static_cast<std::uint16_t>(cylinders > 16383 ? 16383 : cylinders);
  words[Heads] = GeometryHeads;
  words[SectorsPerTrack] = GeometrySectors;
  put_string(words, SerialNumber, 10, "VPC0001");
  put_string(words, FirmwareRevision, 4, "1.0");
  put_string(words, ModelNumber, 20, model_);
  words[Capabilities] = LbaSupported;
  words[ValidFields] = 1;
  words[LbaSectors] = static_cast<std::uint16_t>(sectors_);
  words[LbaSectors + 1] = static_cast<std::uint16_t>(sectors_ >> 16);
  return words;
}

// The slave is not there: its registers float, and the bus reads 0 for them.
std::uint8_t AtaDisk::status() const { return slave_selected() ? 0 : state_.status; }

std::uint32_t AtaDisk::read(std::uint16_t offset, unsigned width) {
  switch (offset) {
    case Data: {
      // A 32-bit transfer moves two words, as the controller splits it on the 16-bit bus.
      std::uint32_t value = next_data_word();
      if (width == 4) value |= std::uint32_t{next_data_word()} << 16;
      return width == 1 ? value & 0xFF : value;
    }
    case ErrorFeatures:
      return slave_selected() ? 0 : state_.error;
    case StatusCommand:
      state_.interrupt_pending = false;
      update_irq();
      return status();
    default:
      return state_.registers[offset];
  }
}

void AtaDisk::write(std::uint16_t offset, unsigned, std::uint32_t value) {
  auto byte = static_cast<std::uint8_t>(value);
  switch (offset) {
    case Data:
      break;  // no command here takes data from the host
    case StatusCommand:
      if (!slave_selected() && !(state_.control & SoftReset) && !(state_.status & Busy)) run_command(byte);
      break;
    default:
      state_.registers[offset] = byte;
      break;
  }
}

void AtaDisk::run_command(std::uint8_t command) {
  state_.error = 0;
  if (command != ata::IdentifyDevice) {
    state_.error = Aborted;
    finish_command(DriveReady | SeekComplete | Err);
    return;
  }
  state_.buffer = identity();
  state_.next_word = 0;
  finish_command(DriveReady | SeekComplete | DataRequest);
}

std::uint16_t AtaDisk::next_data_word() {
  if (slave_selected() || state_.next_word >= IdentifyWords) return 0xFFFF;  // nothing is driven
  std::uint16_t word = state_.buffer[state_.next_word++];
  if (state_.next_word == IdentifyWords) state_.status &= static_cast<std::uint8_t>(~DataRequest);
  return word;
}

void AtaDisk::finish_command(std::uint8_t status) {
  state_.status = status;
  state_.interrupt_pending = true;
  update_irq();
}

void AtaDisk::update_irq() {
  bool high = state_.interrupt_pending && !(state_.control & NoInterrupt);
  // The line is edge-triggered: only a rise interrupts.
  if (high && !state_.line_high) interrupt_();
  state_.line_high = high;
}

std::uint32_t AtaDisk::ControlBlock::read(std::uint16_t, unsigned) { return disk_.status(); }

// Setting SRST resets the drive; it stays idle until SRST is cleared again.
void AtaDisk::ControlBlock::write(std::uint16_t, unsigned, std::uint32_t value) {
  auto control = static_cast<std::uint8_t>(value);
  if ((control & SoftReset) && !(disk_.state_.control & SoftReset)) {
    disk_.reset();
  }
  disk_.state_.control = control;
  disk_.update_irq();
}

}  // namespace ferrox::vpc
