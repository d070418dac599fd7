#include "Ovf.h"

#include <boost/json/array.hpp>

#include <pugixml.hpp>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>

namespace vrmsim {

namespace json = boost::json;

// ---- XML ----

std::string XmlEscape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string XmlElement::LocalName() const {
    auto colon = name.find(':');
    return colon == std::string::npos ? name : name.substr(colon + 1);
}

std::string XmlElement::Attribute(const std::string& wanted) const {
    for (const auto& attribute : attributes) {
        auto colon = attribute.first.find(':');
        std::string local = colon == std::string::npos ? attribute.first : attribute.first.substr(colon + 1);
        if (local == wanted) return attribute.second;
    }
    return std::string();
}

const XmlElement* XmlElement::Child(const std::string& wanted) const {
    for (const auto& child : children) {
        if (child.LocalName() == wanted) return &child;
    }
    return nullptr;
}

std::vector<const XmlElement*> XmlElement::Children(const std::string& wanted) const {
    std::vector<const XmlElement*> found;
    for (const auto& child : children) {
        if (child.LocalName() == wanted) found.push_back(&child);
    }
    return found;
}

namespace {

constexpr int kMaxDepth = 64;

/// Appends `raw` with its entity and character references replaced. pugixml would leave an unknown
/// entity as it is and accept any code point; a descriptor holds only the five XML entities and ASCII
/// references, so anything else is refused.
bool Decode(const char* raw, std::string& out, std::string& error) {
    static const std::map<std::string, char> kEntities = {
        {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
    for (const char* p = raw; *p; ++p) {
        if (*p != '&') {
            out += *p;
            continue;
        }
        const char* semicolon = std::strchr(p, ';');
        if (!semicolon) {
            error = "unterminated entity";
            return false;
        }
        std::string entity(p + 1, semicolon);
        auto known = kEntities.find(entity);
        if (known != kEntities.end()) {
            out += known->second;
        } else if (entity.size() > 1 && entity[0] == '#') {
            long code = entity[1] == 'x' ? std::strtol(entity.c_str() + 2, nullptr, 16)
                                         : std::strtol(entity.c_str() + 1, nullptr, 10);
            if (code <= 0 || code > 127) {
                error = "unsupported character reference &" + entity + ";";
                return false;
            }
            out += static_cast<char>(code);
        } else {
            error = "unknown entity &" + entity + ";";
            return false;
        }
        p = semicolon;
    }
    return true;
}

/// Copies a parsed element into the tree, decoding its attribute values and text.
bool Convert(const pugi::xml_node& node, XmlElement& element, int depth, std::string& error) {
    if (depth > kMaxDepth) {
        error = "elements nested too deeply";
        return false;
    }
    element.name = node.name();
    for (const pugi::xml_attribute& attribute : node.attributes()) {
        element.attributes.emplace_back(attribute.name(), std::string());
        if (!Decode(attribute.value(), element.attributes.back().second, error)) return false;
    }
    for (const pugi::xml_node& child : node.children()) {
        if (child.type() == pugi::node_element) {
            element.children.emplace_back();
            if (!Convert(child, element.children.back(), depth + 1, error)) return false;
        } else if (child.type() == pugi::node_cdata) {
            element.text += child.value();
        } else if (child.type() == pugi::node_pcdata && !Decode(child.value(), element.text, error)) {
            return false;
        }
    }
    return true;
}

std::string Trim(const std::string& text) {
    auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return std::string();
    auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

}  // namespace

bool ParseXml(const std::string& text, XmlElement& root, std::string& error) {
    root = XmlElement();
    // Parsed as a fragment, with blank text kept and references left alone: text beside the root
    // element stays visible to be refused, an element's text keeps its blanks exactly, and Decode
    // applies this reader's rules on references. Line ends are not normalised.
    pugi::xml_document document;
    pugi::xml_parse_result parsed = document.load_buffer(
        text.data(), text.size(), pugi::parse_cdata | pugi::parse_ws_pcdata | pugi::parse_fragment,
        pugi::encoding_utf8);
    if (!parsed) {
        error = std::string(parsed.description()) + " at offset " + std::to_string(parsed.offset);
        return false;
    }
    pugi::xml_node element;
    for (const pugi::xml_node& node : document.children()) {
        if (node.type() == pugi::node_element) {
            if (element) {
                error = "more than one root element";
                return false;
            }
            element = node;
        } else if (node.type() != pugi::node_pcdata || !Trim(node.value()).empty()) {
            error = "text outside the root element";
            return false;
        }
    }
    if (!element) {
        error = "no root element";
        return false;
    }
    return Convert(element, root, 0, error);
}

// ---- writing ----

std::string WriteOvfDescriptor(Model& model, const Vm& vm, const std::string& name,
                               const std::vector<OvfFileItem>& items) {
    std::ostringstream out;
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<Envelope xmlns=\"http://schemas.dmtf.org/ovf/envelope/1\""
        << " xmlns:ovf=\"http://schemas.dmtf.org/ovf/envelope/1\""
        << " xmlns:rasd=\"http://schemas.dmtf.org/wbem/wscim/1/cim-schema/2/"
           "CIM_ResourceAllocationSettingData\""
        << " xmlns:vssd=\"http://schemas.dmtf.org/wbem/wscim/1/cim-schema/2/"
           "CIM_VirtualSystemSettingData\">\n";
    out << "  <References>\n";
    for (const OvfFileItem& item : items) {
        out << "    <File ovf:id=\"" << XmlEscape(item.deviceId) << "\" ovf:href=\"" << XmlEscape(item.path)
            << "\" ovf:size=\"" << item.size << "\"/>\n";
    }
    out << "  </References>\n  <DiskSection>\n    <Info>Virtual disks</Info>\n";
    for (std::size_t i = 0; i < items.size(); ++i) {
        out << "    <Disk ovf:diskId=\"vmdisk" << i + 1 << "\" ovf:fileRef=\"" << XmlEscape(items[i].deviceId)
            << "\" ovf:capacity=\"" << items[i].volume->quantityGB
            << "\" ovf:capacityAllocationUnits=\"byte * 2^30\" ovf:populatedSize=\"" << items[i].size
            << "\"/>\n";
    }
    out << "  </DiskSection>\n  <NetworkSection>\n    <Info>Networks</Info>\n";
    for (const Nic& nic : vm.nics) {
        const PortGroup* pg = model.FindPortGroup(nic.portGroupUrn);
        out << "    <Network ovf:name=\"" << XmlEscape(pg ? pg->name : nic.portGroupUrn) << "\"><Description>"
            << XmlEscape(nic.portGroupUrn) << "</Description></Network>\n";
    }
    out << "  </NetworkSection>\n";
    out << "  <VirtualSystem ovf:id=\"" << XmlEscape(name) << "\">\n    <Info>A virtual machine</Info>\n"
        << "    <Name>" << XmlEscape(name) << "</Name>\n"
        << "    <AnnotationSection>\n      <Info>Description</Info>\n      <Annotation>"
        << XmlEscape(vm.description) << "</Annotation>\n    </AnnotationSection>\n"
        << "    <OperatingSystemSection ovf:id=\"" << vm.osVersion << "\" ovf:osType=\""
        << XmlEscape(vm.osType) << "\">\n      <Info>Guest operating system</Info>\n      <Description>"
        << XmlEscape(vm.guestOSName) << "</Description>\n    </OperatingSystemSection>\n";
    out << "    <VirtualHardwareSection>\n      <Info>Virtual hardware</Info>\n"
        << "      <System>\n        <vssd:ElementName>Virtual Hardware Family</vssd:ElementName>\n"
        << "        <vssd:VirtualSystemIdentifier>" << XmlEscape(vm.uuid)
        << "</vssd:VirtualSystemIdentifier>\n"
        << "        <vssd:VirtualSystemType>FusionCompute</vssd:VirtualSystemType>\n      </System>\n";
    out << "      <Item>\n        <rasd:ElementName>" << vm.cpuQuantity
        << " virtual CPU(s)</rasd:ElementName>\n"
        << "        <rasd:ResourceType>3</rasd:ResourceType>\n        <rasd:VirtualQuantity>"
        << vm.cpuQuantity << "</rasd:VirtualQuantity>\n        <rasd:CoresPerSocket>" << vm.coresPerSocket
        << "</rasd:CoresPerSocket>\n      </Item>\n";
    out << "      <Item>\n        <rasd:AllocationUnits>byte * 2^20</rasd:AllocationUnits>\n"
        << "        <rasd:ElementName>" << vm.memoryMB << " MB of memory</rasd:ElementName>\n"
        << "        <rasd:ResourceType>4</rasd:ResourceType>\n        <rasd:VirtualQuantity>" << vm.memoryMB
        << "</rasd:VirtualQuantity>\n      </Item>\n";
    for (std::size_t i = 0; i < items.size(); ++i) {
        const std::string& id = items[i].deviceId;
        auto dash = id.find('-');
        out << "      <Item>\n        <rasd:AddressOnParent>" << XmlEscape(id.substr(dash + 1))
            << "</rasd:AddressOnParent>\n        <rasd:ElementName>" << XmlEscape(items[i].volume->name)
            << "</rasd:ElementName>\n        <rasd:HostResource>ovf:/disk/vmdisk" << i + 1
            << "</rasd:HostResource>\n        <rasd:Parent>" << XmlEscape(id.substr(0, dash))
            << "</rasd:Parent>\n        <rasd:ResourceType>17</rasd:ResourceType>\n      </Item>\n";
    }
    for (const Nic& nic : vm.nics) {
        const PortGroup* pg = model.FindPortGroup(nic.portGroupUrn);
        out << "      <Item>\n        <rasd:Address>" << XmlEscape(nic.mac) << "</rasd:Address>\n"
            << "        <rasd:Connection>" << XmlEscape(pg ? pg->name : nic.portGroupUrn)
            << "</rasd:Connection>\n"
            << "        <rasd:ElementName>" << XmlEscape(nic.name) << "</rasd:ElementName>\n"
            << "        <rasd:ResourceType>10</rasd:ResourceType>\n      </Item>\n";
    }
    out << "    </VirtualHardwareSection>\n  </VirtualSystem>\n</Envelope>\n";
    return out.str();
}

// ---- reading ----

namespace {

bool ToNumber(const std::string& text, std::uint64_t& value) {
    std::string trimmed = Trim(text);
    if (trimmed.empty() || trimmed.size() > 19) return false;
    for (char c : trimmed) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    }
    value = std::stoull(trimmed);
    return true;
}

std::string ItemValue(const XmlElement& item, const char* name) {
    const XmlElement* child = item.Child(name);
    return child ? Trim(child->text) : std::string();
}

class DescriptorReader {
  public:
    DescriptorReader(Model& model, std::string& error) : m_(model), error_(error) {}

    bool Read(const XmlElement& root, json::object& answer) {
        if (root.LocalName() != "Envelope") return Fail("the root element is not an OVF Envelope");
        const XmlElement* system = root.Child("VirtualSystem");
        if (!system) return Fail("the descriptor has no VirtualSystem");
        const XmlElement* hardware = system->Child("VirtualHardwareSection");
        if (!hardware) return Fail("the VirtualSystem has no VirtualHardwareSection");
        if (!ReadFiles(root) || !ReadDisks(root)) return false;
        json::object config;
        json::array disks, nics;
        for (const XmlElement* item : hardware->Children("Item")) {
            if (!ReadItem(*item, config, disks, nics)) return false;
        }
        if (!config.contains("cpu") || !config.contains("memory"))
            return Fail("the VirtualHardwareSection names no CPU or memory");
        config["disks"] = std::move(disks);
        config["nics"] = std::move(nics);
        answer = json::object();
        answer["name"] = Trim(system->Child("Name") ? system->Child("Name")->text : system->Attribute("id"));
        const XmlElement* annotation = system->Child("AnnotationSection");
        answer["description"] =
            annotation && annotation->Child("Annotation") ? annotation->Child("Annotation")->text : "";
        const XmlElement* identity = hardware->Child("System");
        answer["uuid"] = identity ? ItemValue(*identity, "VirtualSystemIdentifier") : std::string();
        answer["recover"] = false;
        if (const XmlElement* os = system->Child("OperatingSystemSection")) {
            std::uint64_t version = 0;
            ToNumber(os->Attribute("id"), version);
            answer["osOptions"] = json::object{{"osType", os->Attribute("osType")}, {"osVersion", version}};
        }
        answer["vmConfig"] = std::move(config);
        answer["fileItems"] = FileItems();
        return true;
    }

  private:
    /// A File (href, size) or a Disk (fileRef, capacity in GB) of the descriptor.
    struct Entry {
        std::string id, ref;
        std::uint64_t number = 0;
        bool numbered = false;
    };

    bool Fail(const std::string& why) {
        error_ = why;
        return false;
    }

    /// The `item` elements of the root's `section` with the attributes that name the id, the reference
    /// and the number of each.
    static std::vector<Entry> Entries(const XmlElement& root, const char* section, const char* item,
                                      const char* idName, const char* refName, const char* numberName) {
        std::vector<Entry> entries;
        const XmlElement* parent = root.Child(section);
        for (const XmlElement* element : parent ? parent->Children(item) : std::vector<const XmlElement*>()) {
            Entry entry;
            entry.id = element->Attribute(idName);
            entry.ref = element->Attribute(refName);
            entry.numbered = ToNumber(element->Attribute(numberName), entry.number);
            entries.push_back(entry);
        }
        return entries;
    }

    bool ReadFiles(const XmlElement& root) {
        for (const Entry& file : Entries(root, "References", "File", "id", "href", "size")) {
            if (file.id.empty() || file.ref.empty()) return Fail("a File has no ovf:id or ovf:href");
            if (!file.numbered) return Fail("the File " + file.id + " has no size");
            fileOrder_.push_back(file.id);
            files_[file.id] = file;
        }
        return true;
    }

    bool ReadDisks(const XmlElement& root) {
        for (const Entry& disk : Entries(root, "DiskSection", "Disk", "diskId", "fileRef", "capacity")) {
            if (disk.id.empty() || !files_.count(disk.ref))
                return Fail("the Disk " + disk.id + " names no File");
            if (!disk.numbered) return Fail("the Disk " + disk.id + " has no capacity");
            disks_[disk.id] = disk;
            diskOfFile_[disk.ref] = disk.id;
        }
        return true;
    }

    bool ReadItem(const XmlElement& item, json::object& config, json::array& disks, json::array& nics) {
        std::string type = ItemValue(item, "ResourceType");
        std::uint64_t quantity = 0;
        if (type == "3") {
            std::uint64_t cores = 1;
            if (!ToNumber(ItemValue(item, "VirtualQuantity"), quantity))
                return Fail("the CPU item has no quantity");
            if (item.Child("CoresPerSocket")) ToNumber(ItemValue(item, "CoresPerSocket"), cores);
            config["cpu"] = json::object{{"quantity", quantity}, {"coresPerSocket", cores}};
        } else if (type == "4") {
            if (!ToNumber(ItemValue(item, "VirtualQuantity"), quantity))
                return Fail("the memory item has no quantity");
            config["memory"] = json::object{{"quantityMB", quantity}};
        } else if (type == "17") {
            std::string resource = ItemValue(item, "HostResource");
            std::string id = resource.substr(resource.rfind('/') + 1);
            auto disk = disks_.find(id);
            std::uint64_t slot = 0;
            if (disk == disks_.end()) return Fail("the disk item names no Disk (" + resource + ")");
            if (!ToNumber(ItemValue(item, "AddressOnParent"), slot))
                return Fail("the disk item " + id + " has no slot");
            disks.push_back(json::object{{"pciType", ItemValue(item, "Parent")},
                                         {"sequenceNum", slot},
                                         {"quantityGB", disk->second.number},
                                         {"diskName", ItemValue(item, "ElementName")}});
        } else if (type == "10") {
            json::object nic{{"name", ItemValue(item, "ElementName")},
                             {"mac", ItemValue(item, "Address")},
                             {"portGroupName", ItemValue(item, "Connection")}};
            if (const PortGroup* pg = PortGroupNamed(ItemValue(item, "Connection")))
                nic["portGroupUrn"] = pg->urn;
            nics.push_back(std::move(nic));
        }
        return true;
    }

    const PortGroup* PortGroupNamed(const std::string& name) {
        for (const auto& sw : m_.dvSwitches) {
            for (const auto& pg : sw.second.portGroups) {
                if (pg.second.name == name) return &pg.second;
            }
        }
        return nullptr;
    }

    json::array FileItems() const {
        json::array items;
        for (const std::string& id : fileOrder_) {
            const Entry& file = files_.at(id);
            auto disk = diskOfFile_.find(id);
            items.push_back(
                json::object{{"path", file.ref},
                             {"deviceId", disk != diskOfFile_.end() ? disk->second : std::string()},
                             {"ovfId", id},
                             {"size", file.number}});
        }
        return items;
    }

    Model& m_;
    std::string& error_;
    std::vector<std::string> fileOrder_;
    std::map<std::string, Entry> files_;
    std::map<std::string, Entry> disks_;
    std::map<std::string, std::string> diskOfFile_;
};

}  // namespace

bool ReadOvfDescriptor(Model& model, const std::string& text, json::object& answer, std::string& error) {
    XmlElement root;
    if (!ParseXml(text, root, error)) return false;
    return DescriptorReader(model, error).Read(root, answer);
}

}  // namespace vrmsim
