#ifndef VRMSIM_OVF_H
#define VRMSIM_OVF_H

// OVF descriptors as the simulated VRM writes and reads them: an OVF 1.x envelope with one File per
// file item of the request (ovf:id = the item's deviceId "BUS-SLOT", ovf:href = its path, ovf:size =
// its size), one Disk per file, and a VirtualSystem with name, UUID, guest OS, CPU, memory, the disks
// in their slots and the network cards.

#include <boost/json/object.hpp>

#include <cstdint>
#include <string>
#include <vector>

#include "Model.h"

namespace vrmsim {

/// One file item of a create-descriptor request.
struct OvfFileItem {
    std::string deviceId;  ///< "BUS-SLOT", for example "SCSI-2"
    std::string path;      ///< the UUID of the volume the file holds
    std::uint64_t size = 0;
    const Volume* volume = nullptr;  ///< the VM's volume with that UUID
};

/// The descriptor of a VM whose disks are named by `items` (each with its volume set).
std::string WriteOvfDescriptor(Model& model, const Vm& vm, const std::string& name,
                               const std::vector<OvfFileItem>& items);

/// Turns a descriptor into the VRM's parse answer: "name", "description", "uuid", "recover",
/// "osOptions", "vmConfig" (cpu, memory, disks by slot, nics) and "fileItems" (path, deviceId, ovfId,
/// size). Returns false with a message when the text is no descriptor of this form.
bool ReadOvfDescriptor(Model& model, const std::string& text, boost::json::object& answer,
                       std::string& error);

/// An XML element tree as the descriptor reader walks it: names with their prefixes, decoded
/// attribute values and text.
struct XmlElement {
    std::string name;  ///< with its prefix, e.g. "rasd:ResourceType"
    std::vector<std::pair<std::string, std::string>> attributes;
    std::string text;
    std::vector<XmlElement> children;

    /// The name without its namespace prefix.
    std::string LocalName() const;
    /// Value of the attribute whose local name is `name`, or "".
    std::string Attribute(const std::string& name) const;
    /// First child whose local name is `name`, or nullptr.
    const XmlElement* Child(const std::string& name) const;
    /// Every child whose local name is `name`.
    std::vector<const XmlElement*> Children(const std::string& name) const;
};

/// Parses an XML document (declaration, comments and one root element) with pugixml. References are
/// limited to the five XML entities and ASCII characters. False with a message on malformed text.
bool ParseXml(const std::string& text, XmlElement& root, std::string& error);

/// Escapes text for XML content and attribute values.
std::string XmlEscape(const std::string& text);

}  // namespace vrmsim

#endif  // VRMSIM_OVF_H
