#include "Ovf.h"

#include <boost/json/array.hpp>

#include <cctype>
#include <cstdlib>
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

class XmlReader {
  public:
    explicit XmlReader(const std::string& text) : t_(text) {}

    bool Document(XmlElement& root, std::string& error) {
        SkipMisc();
        if (!Element(root, 0)) {
            error = error_.empty() ? "no root element" : error_;
            return false;
        }
        SkipMisc();
        if (p_ != t_.size()) {
            error = "text after the root element at offset " + std::to_string(p_);
            return false;
        }
        return true;
    }

  private:
    static constexpr int kMaxDepth = 64;

    bool Fail(const std::string& why) {
        if (error_.empty()) error_ = why + " at offset " + std::to_string(p_);
        return false;
    }

    bool StartsWith(const char* prefix) const {
        return t_.compare(p_, std::char_traits<char>::length(prefix), prefix) == 0;
    }

    void SkipSpace() {
        while (p_ < t_.size() && std::isspace(static_cast<unsigned char>(t_[p_]))) ++p_;
    }

    /// Skips blanks, the declaration, processing instructions and comments.
    void SkipMisc() {
        for (;;) {
            SkipSpace();
            const char* end = StartsWith("<?") ? "?>" : StartsWith("<!--") ? "-->" : nullptr;
            if (!end) return;
            auto close = t_.find(end, p_);
            p_ = close == std::string::npos ? t_.size() : close + std::char_traits<char>::length(end);
        }
    }

    std::string Name() {
        std::size_t start = p_;
        while (p_ < t_.size() && (std::isalnum(static_cast<unsigned char>(t_[p_])) || t_[p_] == ':' ||
                                  t_[p_] == '_' || t_[p_] == '-' || t_[p_] == '.')) {
            ++p_;
        }
        return t_.substr(start, p_ - start);
    }

    bool Decode(const std::string& raw, std::string& out) {
        static const std::map<std::string, char> kEntities = {
            {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
        out.clear();
        for (std::size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] != '&') {
                out += raw[i];
                continue;
            }
            auto semicolon = raw.find(';', i);
            if (semicolon == std::string::npos) return Fail("unterminated entity");
            std::string entity = raw.substr(i + 1, semicolon - i - 1);
            auto known = kEntities.find(entity);
            if (known != kEntities.end()) {
                out += known->second;
            } else if (entity.size() > 1 && entity[0] == '#') {
                long code = entity[1] == 'x' ? std::strtol(entity.c_str() + 2, nullptr, 16)
                                             : std::strtol(entity.c_str() + 1, nullptr, 10);
                if (code <= 0 || code > 127) return Fail("unsupported character reference");
                out += static_cast<char>(code);
            } else {
                return Fail("unknown entity &" + entity + ";");
            }
            i = semicolon;
        }
        return true;
    }

    bool Attributes(XmlElement& element) {
        for (;;) {
            SkipSpace();
            if (p_ >= t_.size()) return Fail("unterminated tag");
            if (t_[p_] == '>' || t_[p_] == '/') return true;
            std::string name = Name();
            if (name.empty()) return Fail("bad attribute name");
            SkipSpace();
            if (p_ >= t_.size() || t_[p_] != '=') return Fail("attribute without value");
            ++p_;
            SkipSpace();
            if (p_ >= t_.size() || (t_[p_] != '"' && t_[p_] != '\'')) return Fail("unquoted attribute value");
            char quote = t_[p_++];
            auto close = t_.find(quote, p_);
            if (close == std::string::npos) return Fail("unterminated attribute value");
            std::string value;
            if (!Decode(t_.substr(p_, close - p_), value)) return false;
            element.attributes.emplace_back(name, value);
            p_ = close + 1;
        }
    }

    bool Element(XmlElement& element, int depth) {
        if (depth > kMaxDepth) return Fail("elements nested too deeply");
        if (p_ >= t_.size() || t_[p_] != '<') return Fail("expected an element");
        ++p_;
        element.name = Name();
        if (element.name.empty()) return Fail("bad element name");
        if (!Attributes(element)) return false;
        if (t_[p_] == '/') {
            if (p_ + 1 >= t_.size() || t_[p_ + 1] != '>') return Fail("bad empty-element tag");
            p_ += 2;
            return true;
        }
        ++p_;  // '>'
        return Content(element, depth);
    }

    bool Content(XmlElement& element, int depth) {
        std::string raw;
        for (;;) {
            if (p_ >= t_.size()) return Fail("unterminated element <" + element.name + ">");
            if (StartsWith("<!--")) {
                auto close = t_.find("-->", p_);
                if (close == std::string::npos) return Fail("unterminated comment");
                p_ = close + 3;
            } else if (StartsWith("</")) {
                p_ += 2;
                std::string name = Name();
                SkipSpace();
                if (name != element.name || p_ >= t_.size() || t_[p_] != '>')
                    return Fail("</" + name + "> does not close <" + element.name + ">");
                ++p_;
                return Decode(raw, element.text);
            } else if (t_[p_] == '<') {
                element.children.emplace_back();
                if (!Element(element.children.back(), depth + 1)) return false;
            } else {
                raw += t_[p_++];
            }
        }
    }

    const std::string& t_;
    std::size_t p_ = 0;
    std::string error_;
};

std::string Trim(const std::string& text) {
    auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return std::string();
    auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

}  // namespace

bool ParseXml(const std::string& text, XmlElement& root, std::string& error) {
    root = XmlElement();
    return XmlReader(text).Document(root, error);
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
    struct File {
        std::string href;
        std::uint64_t size = 0;
    };
    struct Disk {
        std::string fileRef;
        std::uint64_t capacityGB = 0;
    };

    bool Fail(const std::string& why) {
        error_ = why;
        return false;
    }

    bool ReadFiles(const XmlElement& root) {
        const XmlElement* references = root.Child("References");
        if (!references) return true;
        for (const XmlElement* file : references->Children("File")) {
            File entry;
            entry.href = file->Attribute("href");
            std::string id = file->Attribute("id");
            if (id.empty() || entry.href.empty()) return Fail("a File has no ovf:id or ovf:href");
            if (!ToNumber(file->Attribute("size"), entry.size))
                return Fail("the File " + id + " has no size");
            fileOrder_.push_back(id);
            files_[id] = entry;
        }
        return true;
    }

    bool ReadDisks(const XmlElement& root) {
        const XmlElement* section = root.Child("DiskSection");
        if (!section) return true;
        for (const XmlElement* disk : section->Children("Disk")) {
            Disk entry;
            entry.fileRef = disk->Attribute("fileRef");
            std::string id = disk->Attribute("diskId");
            if (id.empty() || !files_.count(entry.fileRef)) return Fail("the Disk " + id + " names no File");
            if (!ToNumber(disk->Attribute("capacity"), entry.capacityGB))
                return Fail("the Disk " + id + " has no capacity");
            disks_[id] = entry;
            diskOfFile_[entry.fileRef] = id;
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
                                         {"quantityGB", disk->second.capacityGB},
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
            const File& file = files_.at(id);
            auto disk = diskOfFile_.find(id);
            items.push_back(
                json::object{{"path", file.href},
                             {"deviceId", disk != diskOfFile_.end() ? disk->second : std::string()},
                             {"ovfId", id},
                             {"size", file.size}});
        }
        return items;
    }

    Model& m_;
    std::string& error_;
    std::vector<std::string> fileOrder_;
    std::map<std::string, File> files_;
    std::map<std::string, Disk> disks_;
    std::map<std::string, std::string> diskOfFile_;
};

}  // namespace

bool ReadOvfDescriptor(Model& model, const std::string& text, json::object& answer, std::string& error) {
    XmlElement root;
    if (!ParseXml(text, root, error)) return false;
    return DescriptorReader(model, error).Read(root, answer);
}

}  // namespace vrmsim
