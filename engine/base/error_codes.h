#pragma once
// The engine's error codes. Codes of one kind share their high byte: 0x22
// record position, 0x23 corruption, 0x24 file input/output, 0x25 limits, 0x26
// key and value checks, 0x27 invalid requests, 0x28 locking, 0x2B
// operating-system failures, 0x2C the remote connection, and so on. Names and
// message texts of every code are kept by engine_error.cpp.

#include <cstdint>

namespace vevura {

inline constexpr uint16_t VEVURA_NONE = 0;
inline constexpr uint16_t VEVURA_BOF = 8705;
inline constexpr uint16_t VEVURA_EOF = 8706;
inline constexpr uint16_t VEVURA_KEYORRECDELETED = 8708;
inline constexpr uint16_t VEVURA_NOCURRREC = 8709;
inline constexpr uint16_t VEVURA_RECNOTFOUND = 8710;
inline constexpr uint16_t VEVURA_ENDOFBLOB = 8711;
inline constexpr uint16_t VEVURA_HEADERCORRUPT = 8961;
inline constexpr uint16_t VEVURA_FILECORRUPT = 8962;
inline constexpr uint16_t VEVURA_MEMOCORRUPT = 8963;
inline constexpr uint16_t VEVURA_INDEXCORRUPT = 8965;
inline constexpr uint16_t VEVURA_READERR = 9217;
inline constexpr uint16_t VEVURA_WRITEERR = 9218;
inline constexpr uint16_t VEVURA_FILEDELETEFAIL = 9220;
inline constexpr uint16_t VEVURA_FILENOACCESS = 9221;
inline constexpr uint16_t VEVURA_RECTOOBIG = 9477;
inline constexpr uint16_t VEVURA_TABLEFULL = 9479;
inline constexpr uint16_t VEVURA_INTERNALLIMIT = 9482;
inline constexpr uint16_t VEVURA_INDEXLIMIT = 9487;
inline constexpr uint16_t VEVURA_FLDLIMIT = 9492;
inline constexpr uint16_t VEVURA_OPENBLOBLIMIT = 9494;
inline constexpr uint16_t VEVURA_BLOBLIMIT = 9498;
inline constexpr uint16_t VEVURA_KEYVIOL = 9729;
inline constexpr uint16_t VEVURA_MINVALERR = 9730;
inline constexpr uint16_t VEVURA_MAXVALERR = 9731;
inline constexpr uint16_t VEVURA_REQDERR = 9732;
inline constexpr uint16_t VEVURA_OUTOFRANGE = 9985;
inline constexpr uint16_t VEVURA_PRIMARYKEYREDEFINE = 9993;
inline constexpr uint16_t VEVURA_INVALIDBLOBOFFSET = 9998;
inline constexpr uint16_t VEVURA_INVALIDFLDTYPE = 10000;
inline constexpr uint16_t VEVURA_INVALIDVCHKSTRUCT = 10006;
inline constexpr uint16_t VEVURA_INDEXNAMEREQUIRED = 10010;
inline constexpr uint16_t VEVURA_INVALIDPASSWORD = 10015;
inline constexpr uint16_t VEVURA_INVALIDINDEXNAME = 10022;
inline constexpr uint16_t VEVURA_INVALIDIDXDESC = 10023;
inline constexpr uint16_t VEVURA_INVALIDKEY = 10026;
inline constexpr uint16_t VEVURA_INDEXEXISTS = 10027;
inline constexpr uint16_t VEVURA_INVALIDBLOBLEN = 10029;
inline constexpr uint16_t VEVURA_INVALIDBLOBHANDLE = 10030;
inline constexpr uint16_t VEVURA_TABLEOPEN = 10031;
inline constexpr uint16_t VEVURA_INVALIDFIELDNAME = 10038;
inline constexpr uint16_t VEVURA_NOSUCHFILTER = 10050;
inline constexpr uint16_t VEVURA_INVALIDFILTER = 10051;
inline constexpr uint16_t VEVURA_INVALIDINDEXDELETE = 10055;
inline constexpr uint16_t VEVURA_LOCKED = 10241;
inline constexpr uint16_t VEVURA_UNLOCKFAILED = 10242;
inline constexpr uint16_t VEVURA_LOCKTIMEOUT = 10249;
inline constexpr uint16_t VEVURA_NEEDEXCLACCESS = 10253;
inline constexpr uint16_t VEVURA_RECLOCKFAILED = 10258;
inline constexpr uint16_t VEVURA_NOTSUFFTABLERIGHTS = 10498;
inline constexpr uint16_t VEVURA_NOTABLOB = 10753;
inline constexpr uint16_t VEVURA_NOTINITIALIZED = 10758;
inline constexpr uint16_t VEVURA_OSENOENT = 11010;
inline constexpr uint16_t VEVURA_OSEMFILE = 11012;
inline constexpr uint16_t VEVURA_OSEACCES = 11013;
inline constexpr uint16_t VEVURA_OSEBADF = 11014;
inline constexpr uint16_t VEVURA_OSENOMEM = 11016;
inline constexpr uint16_t VEVURA_OSEINVMEM = 11017;
inline constexpr uint16_t VEVURA_OSENODEV = 11023;
inline constexpr uint16_t VEVURA_OSENOTSAM = 11025;
inline constexpr uint16_t VEVURA_OSUNKNOWN = 11047;
inline constexpr uint16_t VEVURA_REMOTECOMMLOST = 11276;
inline constexpr uint16_t VEVURA_REMOTEUNKNOWN = 11279;
inline constexpr uint16_t VEVURA_REMOTECONNECT = 11280;
inline constexpr uint16_t VEVURA_REMOTENOLOGIN = 11281;
inline constexpr uint16_t VEVURA_REMOTEMAXCONNECT = 11282;
inline constexpr uint16_t VEVURA_REMOTEADDRESSBLOCK = 11283;
inline constexpr uint16_t VEVURA_REMOTECALLBACK = 11284;
inline constexpr uint16_t VEVURA_REMOTECALLBACKERR = 11285;
inline constexpr uint16_t VEVURA_REMOTEVERSION = 11286;
inline constexpr uint16_t VEVURA_REMOTEINVLOGIN = 11287;
inline constexpr uint16_t VEVURA_REMOTENOTAUTH = 11288;
inline constexpr uint16_t VEVURA_REMOTENOTADMIN = 11289;
inline constexpr uint16_t VEVURA_REMOTEINVUSER = 11290;
inline constexpr uint16_t VEVURA_REMOTENOUSER = 11291;
inline constexpr uint16_t VEVURA_REMOTEDUPUSER = 11292;
inline constexpr uint16_t VEVURA_REMOTEINVDB = 11293;
inline constexpr uint16_t VEVURA_REMOTENODB = 11294;
inline constexpr uint16_t VEVURA_REMOTEDUPDB = 11295;
inline constexpr uint16_t VEVURA_REMOTEINVDBUSER = 11296;
inline constexpr uint16_t VEVURA_REMOTENODBUSER = 11297;
inline constexpr uint16_t VEVURA_REMOTEDUPDBUSER = 11298;
inline constexpr uint16_t VEVURA_REMOTEINVREQUEST = 11299;
inline constexpr uint16_t VEVURA_IMPORTERROR = 11300;
inline constexpr uint16_t VEVURA_EXPORTERROR = 11301;
inline constexpr uint16_t VEVURA_SQLPARSE = 11949;
inline constexpr uint16_t VEVURA_OLDVERSION = 12035;
inline constexpr uint16_t VEVURA_SEARCHCOLREQD = 12292;
inline constexpr uint16_t VEVURA_TABLEEXISTS = 13060;
inline constexpr uint16_t VEVURA_COMPRESS = 15001;
inline constexpr uint16_t VEVURA_UNCOMPRESS = 15002;
inline constexpr uint16_t VEVURA_CANNOTLOADLDDRV = 15878;

}  // namespace vevura
