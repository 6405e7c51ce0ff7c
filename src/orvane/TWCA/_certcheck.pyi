"""The signing engine as the certificate check command uses it (private)."""

import os
from typing import Any, Dict, List, Optional, TypedDict, Union

_Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

class _Encryption(TypedDict):
    algorithms: List[str]
    legacy: bool
    mac: Optional[str]
    mac_iterations: int
    unavailable: List[str]

class _Providers(TypedDict):
    legacy: bool
    default: bool
    module_folder: str
    folder_from: str

# Engine codes ("protect", "load", "validity", "key_usage_check", "sign": int or
# None when the step did not run) and, once loaded, the certificate's facts.
def check(properties_file: _Path, password: bytes, probe: bytes) -> Dict[str, Any]: ...
def encryption(path: _Path) -> Optional[_Encryption]: ...
def providers() -> _Providers: ...
def verify(signature: bytes, certificate: bytes, content: bytes) -> Optional[str]: ...
def fits_property(name: bytes, value: bytes) -> bool: ...
