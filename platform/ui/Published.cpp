#include "platform/ui/Published.h"

#include <cerrno>
#include <cstdlib>

#include "platform/ui/Controls.h"

namespace {

const TPropInfo& RequireProp(TControl* Instance, const std::string& Name) {
  const TPropInfo* info = GetPropInfo(Instance, Name);
  if (!info) throw EPropertyError("Property " + Name + " does not exist");
  return *info;
}

std::int64_t RequireOrdinal(const TPropInfo& Info, const TPropValue& Value) {
  const std::int64_t* v = std::get_if<std::int64_t>(&Value);
  if (!v) throw EPropertyError("Invalid property value for " + Info.Name);
  return *v;
}

const char kHex[] = "0123456789ABCDEF";

std::string ToHex(const std::string& Bytes) {
  std::string out;
  out.reserve(Bytes.size() * 2);
  for (unsigned char b : Bytes) {
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 15]);
  }
  return out;
}

int HexDigit(char C) {
  if (C >= '0' && C <= '9') return C - '0';
  if (C >= 'A' && C <= 'F') return C - 'A' + 10;
  if (C >= 'a' && C <= 'f') return C - 'a' + 10;
  return -1;
}

std::string FromHex(const TPropInfo& Info, const std::string& Text) {
  std::string out;
  out.reserve(Text.size() / 2);
  int high = -1;
  for (char c : Text) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    int d = HexDigit(c);
    if (d < 0) throw EPropertyError("Invalid binary value for " + Info.Name);
    if (high < 0) {
      high = d;
    } else {
      out.push_back(static_cast<char>((high << 4) | d));
      high = -1;
    }
  }
  if (high >= 0) throw EPropertyError("Invalid binary value for " + Info.Name);
  return out;
}

}  // namespace

std::vector<const TPropInfo*> GetPropList(const TControl* Instance) {
  std::vector<const TPublishedClass*> chain;
  for (const TPublishedClass* c = Instance ? Instance->PublishedClass() : nullptr; c; c = c->Parent)
    chain.push_back(c);
  std::vector<const TPropInfo*> list;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it)
    for (const TPropInfo& info : (*it)->Properties) list.push_back(&info);
  return list;
}

const TPropInfo* GetPropInfo(const TControl* Instance, const std::string& Name) {
  for (const TPropInfo* info : GetPropList(Instance))
    if (AnsiSameText(info->Name, Name)) return info;
  return nullptr;
}

TPropValue GetPropValue(TControl* Instance, const std::string& Name) {
  const TPropInfo& info = RequireProp(Instance, Name);
  return info.Get(Instance);
}

void SetPropValue(TControl* Instance, const std::string& Name, const TPropValue& Value) {
  const TPropInfo& info = RequireProp(Instance, Name);
  if (info.Kind == tkMethod) throw EPropertyError("Property " + info.Name + " is an event");
  if (!info.Set) throw EPropertyError("Property " + info.Name + " is read-only");
  switch (info.Kind) {
    case tkInteger: {
      std::int64_t v = RequireOrdinal(info, Value);
      if (v < info.MinValue || v > info.MaxValue) throw EPropertyError("Property value out of range for " + info.Name);
      break;
    }
    case tkEnumeration: {
      std::int64_t v = RequireOrdinal(info, Value);
      if (v < 0 || v >= static_cast<std::int64_t>(info.EnumNames.size()))
        throw EPropertyError("Property value out of range for " + info.Name);
      break;
    }
    case tkString:
    case tkBinary:
      if (!std::holds_alternative<std::string>(Value)) throw EPropertyError("Invalid property value for " + info.Name);
      break;
    case tkMethod:
      break;
  }
  info.Set(Instance, Value);
}

std::string GetPropText(TControl* Instance, const std::string& Name) {
  const TPropInfo& info = RequireProp(Instance, Name);
  TPropValue value = info.Get(Instance);
  switch (info.Kind) {
    case tkInteger:
      return std::to_string(std::get<std::int64_t>(value));
    case tkEnumeration: {
      std::int64_t v = std::get<std::int64_t>(value);
      if (v < 0 || v >= static_cast<std::int64_t>(info.EnumNames.size())) return std::to_string(v);
      return info.EnumNames[static_cast<std::size_t>(v)];
    }
    case tkString:
      return std::get<std::string>(value);
    case tkBinary:
      return ToHex(std::get<std::string>(value));
    case tkMethod:
      return std::get<std::int64_t>(value) != 0 ? "(assigned)" : "";
  }
  return {};
}

void SetPropText(TControl* Instance, const std::string& Name, const std::string& Text) {
  const TPropInfo& info = RequireProp(Instance, Name);
  switch (info.Kind) {
    case tkInteger: {
      if (Text.empty()) throw EPropertyError("Invalid integer value for " + info.Name);
      errno = 0;
      char* end = nullptr;
      long long v = std::strtoll(Text.c_str(), &end, 10);
      if (errno != 0 || end == Text.c_str() || *end != '\0')
        throw EPropertyError("Invalid integer value for " + info.Name);
      SetPropValue(Instance, info.Name, static_cast<std::int64_t>(v));
      return;
    }
    case tkEnumeration:
      for (std::size_t i = 0; i < info.EnumNames.size(); ++i)
        if (AnsiSameText(info.EnumNames[i], Text)) {
          SetPropValue(Instance, info.Name, static_cast<std::int64_t>(i));
          return;
        }
      throw EPropertyError("Invalid property value " + Text + " for " + info.Name);
    case tkString:
      SetPropValue(Instance, info.Name, Text);
      return;
    case tkBinary:
      SetPropValue(Instance, info.Name, FromHex(info, Text));
      return;
    case tkMethod:
      throw EPropertyError("Property " + info.Name + " is an event");
  }
}

bool IsPropStored(TControl* Instance, const TPropInfo& Info) {
  switch (Info.Storage) {
    case psAlways:
      return true;
    case psNever:
      return false;
    case psDefault: {
      TPropValue v = Info.Get(Instance);
      const std::int64_t* ordinal = std::get_if<std::int64_t>(&v);
      return !ordinal || *ordinal != Info.Default;
    }
    case psStored:
      return Info.IsStored ? Info.IsStored(Instance) : true;
  }
  return true;
}

std::vector<TStreamedProperty> WriteProperties(TControl* Instance, const TMethodNameFunc& MethodName) {
  std::vector<TStreamedProperty> out;
  for (const TPropInfo* info : GetPropList(Instance)) {
    if (!IsPropStored(Instance, *info)) continue;
    if (info->Kind == tkMethod) {
      out.push_back({info->Name, MethodName ? MethodName(Instance, info->Name) : std::string()});
    } else {
      out.push_back({info->Name, GetPropText(Instance, info->Name)});
    }
  }
  return out;
}

void ReadProperty(TControl* Instance, const std::string& Name, const std::string& Text,
                  const TMethodResolver& Resolver) {
  const TPropInfo& info = RequireProp(Instance, Name);
  if (info.Kind != tkMethod) {
    SetPropText(Instance, info.Name, Text);
    return;
  }
  if (!info.SetMethod) throw EPropertyError("Property " + info.Name + " is read-only");
  std::any handler = Resolver ? Resolver(info, Text) : std::any();
  if (!handler.has_value()) throw EPropertyError("Handler " + Text + " for " + info.Name + " does not exist");
  info.SetMethod(Instance, handler);
}

// ---------------------------------------------------------------------------------------------
// Table builders

TPropInfo BooleanProperty(std::string Name, std::function<bool(TControl*)> Get,
                          std::function<void(TControl*, bool)> Set, TPropStorage Storage, bool Default) {
  TPropInfo info;
  info.Name = std::move(Name);
  info.Kind = tkEnumeration;
  info.TypeName = "Boolean";
  info.EnumNames = {"False", "True"};
  info.Storage = Storage;
  info.Default = Default ? 1 : 0;
  info.Get = [Get](TControl* C) -> TPropValue { return static_cast<std::int64_t>(Get(C) ? 1 : 0); };
  if (Set) info.Set = [Set](TControl* C, const TPropValue& V) { Set(C, std::get<std::int64_t>(V) != 0); };
  return info;
}

TPropInfo IntegerProperty(std::string Name, std::string TypeName, std::int64_t MinValue, std::int64_t MaxValue,
                          std::function<std::int64_t(TControl*)> Get,
                          std::function<void(TControl*, std::int64_t)> Set, TPropStorage Storage,
                          std::int64_t Default) {
  TPropInfo info;
  info.Name = std::move(Name);
  info.Kind = tkInteger;
  info.TypeName = std::move(TypeName);
  info.MinValue = MinValue;
  info.MaxValue = MaxValue;
  info.Storage = Storage;
  info.Default = Default;
  info.Get = [Get](TControl* C) -> TPropValue { return Get(C); };
  if (Set) info.Set = [Set](TControl* C, const TPropValue& V) { Set(C, std::get<std::int64_t>(V)); };
  return info;
}

TPropInfo EnumProperty(std::string Name, std::string TypeName, std::vector<std::string> Names,
                       std::function<std::int64_t(TControl*)> Get, std::function<void(TControl*, std::int64_t)> Set,
                       TPropStorage Storage, std::int64_t Default) {
  TPropInfo info;
  info.Name = std::move(Name);
  info.Kind = tkEnumeration;
  info.TypeName = std::move(TypeName);
  info.EnumNames = std::move(Names);
  info.Storage = Storage;
  info.Default = Default;
  info.Get = [Get](TControl* C) -> TPropValue { return Get(C); };
  if (Set) info.Set = [Set](TControl* C, const TPropValue& V) { Set(C, std::get<std::int64_t>(V)); };
  return info;
}

TPropInfo StringProperty(std::string Name, std::string TypeName, std::function<std::string(TControl*)> Get,
                         std::function<void(TControl*, const std::string&)> Set, TPropStorage Storage,
                         std::function<bool(TControl*)> IsStored) {
  TPropInfo info;
  info.Name = std::move(Name);
  info.Kind = tkString;
  info.TypeName = std::move(TypeName);
  info.Storage = Storage;
  info.IsStored = std::move(IsStored);
  info.Get = [Get](TControl* C) -> TPropValue { return Get(C); };
  if (Set) info.Set = [Set](TControl* C, const TPropValue& V) { Set(C, std::get<std::string>(V)); };
  return info;
}

TPropInfo BinaryProperty(std::string Name, std::string TypeName, std::function<std::string(TControl*)> Get,
                         std::function<void(TControl*, const std::string&)> Set,
                         std::function<bool(TControl*)> IsStored) {
  TPropInfo info = StringProperty(std::move(Name), std::move(TypeName), std::move(Get), std::move(Set), psStored,
                                  std::move(IsStored));
  info.Kind = tkBinary;
  return info;
}
