#include "htmlui/ScriptCallback.h"

namespace stubframework::htmlui {

HRESULT MarshalScriptCallback(IDispatch* callback, IStream** stream) {
  if (!callback || !stream) return E_POINTER;
  return CoMarshalInterThreadInterfaceInStream(IID_IDispatch, callback, stream);
}

HRESULT ScriptCallback::Attach(IStream* stream) {
  if (!stream) return E_POINTER;
  return CoGetInterfaceAndReleaseStream(stream, IID_IDispatch, callback_.OutVoid());
}

HRESULT ScriptCallback::Call(std::initializer_list<int> values) {
  if (!callback_) return E_POINTER;
  if (values.size() > kMaxValues) return E_INVALIDARG;
  // On the stack: the final call of a worker that ran out of memory must still get through.
  // DISPPARAMS hold the arguments in reverse order: the last script argument first.
  VARIANT arguments[kMaxValues];
  size_t position = values.size();
  for (int value : values) {
    VARIANT& argument = arguments[--position];
    VariantInit(&argument);
    argument.vt = VT_I4;
    argument.lVal = value;
  }
  DISPPARAMS params = {arguments, nullptr, static_cast<UINT>(values.size()), 0};
  return callback_->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
}

}  // namespace stubframework::htmlui
