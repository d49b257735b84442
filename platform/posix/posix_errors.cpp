// The one errno -> Windows error code table of the POSIX backends.
#include "platform/posix/posix_errors.h"

#include <cerrno>

#include "platform/codes.h"

namespace platform::posix {

std::uint32_t ErrorFromErrno(int error, ErrnoUse use) {
    if (use == ErrnoUse::PortOpen) {
        switch (error) {
            // Nothing there (yet): a link to a pty that is gone, a USB device
            // unplugged, a node without hardware.
            case ENOENT:
            case ENOTDIR:
            case ENODEV:
            case ENXIO:
            case ELOOP:
            case EIO:
                return kErrorDevNotExist;
            default:
                break;
        }
    }
    if (use == ErrnoUse::PortIo) {
        switch (error) {
            case EIO:
            case ENODEV:
            case ENXIO:
                return kErrorDeviceNotConnected;
            default:
                break;
        }
    }
    switch (error) {
        case 0:
            return kErrorSuccess;
        case ENOENT:
            return kErrorFileNotFound;
        case ENOTDIR:
            return kErrorPathNotFound;
        case EACCES:
        case EPERM:
        case EROFS:
            return kErrorAccessDenied;
        case EBADF:
            return kErrorInvalidHandle;
        case ENOMEM:
            return kErrorNotEnoughMemory;
        case EMFILE:
        case ENFILE:
            return kErrorTooManyOpenFiles;
        case EBUSY:
        case ETXTBSY:
            return kErrorSharingViolation;
        case ENOTTY:
            return kErrorNotSupported;
        case EEXIST:
            return kErrorFileExists;
        case EINVAL:
            return kErrorInvalidParameter;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return kErrorDiskFull;
        case ENAMETOOLONG:
            return kErrorFilenameTooLong;
        case EISDIR:
            return kErrorDirectory;
        case ECANCELED:
            return kErrorOperationAborted;
        default:
            return use == ErrnoUse::File ? kErrorWriteFault : kErrorGenFailure;
    }
}

}  // namespace platform::posix
