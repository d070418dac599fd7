// OVF descriptors: POST <vm>/action/createdescriptor writes the descriptor of a VM whose disks the
// request's file items name; POST <site>/vms/action/parsedescriptor turns a descriptor back into a VM
// creation body. Both answer at once, without a task.

#include <memory>

#include "Actions.h"
#include "Ovf.h"

namespace vrmsim {

namespace json = boost::json;

namespace {

/// The VM of "{id}"; a 404 names the VM's URN.
Vm* VmOfId(Model& model, const HttpRequest&, const PathParams& params, std::string& missing) {
    missing = model.Urn("vms:" + params.at("id"));
    return model.FindVm(missing);
}

class DescriptorRoutes : public RouteArea<DescriptorRoutes> {
  public:
    using RouteArea::RouteArea;

    void Register(Router& router) {
        AddObjectRoute<Vm>(router, c_, "POST", "/service/sites/{site}/vms/{id}/action/createdescriptor",
                           &VmOfId, Bind(&DescriptorRoutes::Create));
        AddBodyRoute(router, c_, "POST", "/service/sites/{site}/vms/action/parsedescriptor",
                     Bind(&DescriptorRoutes::Parse));
    }

  private:
    /// Reads one file item; its path must be the UUID of one of the VM's volumes.
    bool ReadItem(BodyReader& reader, const Vm& vm, const json::value& element, OvfFileItem& item) {
        if (!element.is_object()) {
            reader.Fail("Each file item must be an object.");
            return false;
        }
        const json::object& object = element.as_object();
        auto deviceId = reader.Str(object, "deviceId", true);
        auto path = reader.Str(object, "path", true);
        auto size = reader.Int(object, "size", 0, INT64_MAX, true);
        if (!reader.ok()) return false;
        auto dash = deviceId->find('-');
        if (dash == std::string::npos || dash == 0 || dash + 1 == deviceId->size()) {
            reader.Fail("The deviceId \"" + *deviceId + "\" is not BUS-SLOT.");
            return false;
        }
        for (const Volume* volume : m().VolumesOf(vm)) {
            if (volume->uuid == *path) item.volume = volume;
        }
        if (!item.volume) {
            reader.Fail("The file item " + *deviceId + " names no volume of the VM (path " + *path + ").");
            return false;
        }
        item.deviceId = *deviceId;
        item.path = *path;
        item.size = static_cast<std::uint64_t>(*size);
        return true;
    }

    HttpResponse Create(const HttpRequest&, Vm& vm, BodyReader& reader, const json::object& body) {
        std::string name = reader.Str(body, "name").value_or("");
        const json::array* items = reader.Arr(body, "fileItems", true);
        std::vector<OvfFileItem> files;
        if (items) {
            for (const json::value& element : *items) {
                OvfFileItem item;
                if (!ReadItem(reader, vm, element, item)) break;
                files.push_back(item);
            }
        }
        if (!reader.ok()) return reader.BadRequest();
        std::string descriptor = WriteOvfDescriptor(m(), vm, name.empty() ? vm.name : name, files);
        return JsonResponse(200, json::object{{"ovfDescriptor", std::move(descriptor)}});
    }

    HttpResponse Parse(const HttpRequest&, BodyReader& reader, const json::object& body) {
        auto descriptor = reader.Str(body, "ovfDescriptor", true);
        if (!reader.ok()) return reader.BadRequest();
        json::object answer;
        std::string error;
        if (!ReadOvfDescriptor(m(), *descriptor, answer, error))
            return Refuse(400, errors::kBadDescriptor, "The OVF descriptor cannot be read: " + error + ".");
        return JsonResponse(200, answer);
    }
};

}  // namespace

void RegisterDescriptorRoutes(Router& router, RouteContext& context) {
    std::make_shared<DescriptorRoutes>(context)->Register(router);
}

}  // namespace vrmsim
